#include "release/Sha256.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define QM_SHA_EXTENSIONS 1
#endif

namespace qm {
namespace {

alignas(16) constexpr std::uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t Rotr(std::uint32_t X, int N)
{
    return (X >> N) | (X << (32 - N));
}

void CompressPlain(std::uint32_t* State, const std::uint8_t* Data, std::size_t Blocks)
{
    for (; Blocks > 0; --Blocks, Data += 64) {
        std::uint32_t w[64];
        for (int t = 0; t < 16; ++t)
            w[t] = std::uint32_t{Data[4 * t]} << 24 | std::uint32_t{Data[4 * t + 1]} << 16 |
                   std::uint32_t{Data[4 * t + 2]} << 8 | std::uint32_t{Data[4 * t + 3]};
        for (int t = 16; t < 64; ++t) {
            const std::uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
            const std::uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        std::uint32_t a = State[0], b = State[1], c = State[2], d = State[3];
        std::uint32_t e = State[4], f = State[5], g = State[6], h = State[7];
        for (int t = 0; t < 64; ++t) {
            const std::uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + K[t] + w[t];
            const std::uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        State[0] += a, State[1] += b, State[2] += c, State[3] += d;
        State[4] += e, State[5] += f, State[6] += g, State[7] += h;
    }
}

#ifdef QM_SHA_EXTENSIONS
bool ProcessorHasShaExtensions()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSE4_1) || !(c & bit_SSSE3))
        return false;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA);
}

// The rounds in groups of four: the state as ABEF and CDGH, the schedule
// in four registers of four words each.
__attribute__((target("sha,sse4.1,ssse3"))) void CompressSha(std::uint32_t* State, const std::uint8_t* Data,
                                                              std::size_t Blocks)
{
    const __m128i swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(State)), 0xB1);
    __m128i state1 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(State + 4)), 0x1B);
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);
    for (; Blocks > 0; --Blocks, Data += 64) {
        const __m128i abef = state0, cdgh = state1;
        __m128i w[4];
        for (int i = 0; i < 16; ++i) {
            __m128i& words = w[i % 4];
            if (i < 4)
                words = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Data + 16 * i)), swap);
            else
                words = _mm_sha256msg2_epu32(
                    _mm_add_epi32(_mm_sha256msg1_epu32(words, w[(i + 1) % 4]),
                                  _mm_alignr_epi8(w[(i + 3) % 4], w[(i + 2) % 4], 4)),
                    w[(i + 3) % 4]);
            __m128i msg = _mm_add_epi32(words, _mm_load_si128(reinterpret_cast<const __m128i*>(K + 4 * i)));
            state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
            msg = _mm_shuffle_epi32(msg, 0x0E);
            state0 = _mm_sha256rnds2_epu32(state0, state1, msg);
        }
        state0 = _mm_add_epi32(state0, abef);
        state1 = _mm_add_epi32(state1, cdgh);
    }
    tmp = _mm_shuffle_epi32(state0, 0x1B);
    state1 = _mm_shuffle_epi32(state1, 0xB1);
    state0 = _mm_blend_epi16(tmp, state1, 0xF0);
    state1 = _mm_alignr_epi8(state1, tmp, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(State), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(State + 4), state1);
}
#endif

// Asked once: the processor does not change under a running program.
const bool ShaExtensions =
#ifdef QM_SHA_EXTENSIONS
    ProcessorHasShaExtensions();
#else
    false;
#endif

} // namespace

bool HasSha256Extensions()
{
    return ShaExtensions;
}

TSha256::TSha256(TSha256Rounds Rounds)
    : compress_(CompressPlain),
      state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19}
{
#ifdef QM_SHA_EXTENSIONS
    if (ShaExtensions && Rounds != TSha256Rounds::Plain)
        compress_ = CompressSha;
#else
    (void)Rounds;
#endif
}

void TSha256::Update(const void* Data, std::size_t Len)
{
    const auto* bytes = static_cast<const std::uint8_t*>(Data);
    total_ += Len;
    if (held_ > 0) {
        const std::size_t take = std::min(Len, block_.size() - held_);
        std::memcpy(block_.data() + held_, bytes, take);
        held_ += take, bytes += take, Len -= take;
        if (held_ < block_.size())
            return;
        compress_(state_.data(), block_.data(), 1);
        held_ = 0;
    }
    compress_(state_.data(), bytes, Len / 64);
    bytes += Len / 64 * 64;
    held_ = Len % 64;
    std::memcpy(block_.data(), bytes, held_);
}

TSha256Digest TSha256::Finish()
{
    const std::uint64_t bits = total_ * 8;
    const std::uint8_t one = 0x80;
    Update(&one, 1);
    const std::uint8_t zeros[64] = {};
    Update(zeros, (held_ <= 56 ? 56 : 120) - held_);
    std::uint8_t length[8];
    for (int i = 0; i < 8; ++i)
        length[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    Update(length, sizeof length);
    TSha256Digest digest{};
    for (std::size_t i = 0; i < digest.size(); ++i)
        digest[i] = static_cast<std::uint8_t>(state_[i / 4] >> (24 - 8 * (i % 4)));
    return digest;
}

TSha256Digest TSha256::Of(std::string_view Bytes, TSha256Rounds Rounds)
{
    TSha256 sha(Rounds);
    sha.Update(Bytes.data(), Bytes.size());
    return sha.Finish();
}

std::int32_t THashingStream::Write(const void* Buffer, std::int32_t Count)
{
    const std::int32_t written = inner_.Write(Buffer, Count);
    if (written > 0)
        sha_.Update(Buffer, static_cast<std::size_t>(written));
    return written;
}

} // namespace qm
