#include "TestData.h"

#include "lzh/lzh.h"

#include <array>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace lzhtest {

namespace {

// The 32-bit LCG of lzh_model.py.
struct Lcg {
    std::uint32_t x;
    std::uint32_t Next()
    {
        x = x * 1103515245U + 12345U;
        return x;
    }
};

} // namespace

Bytes FromString(const std::string& s)
{
    return {s.begin(), s.end()};
}

Bytes RandomBytes(std::size_t size, std::uint32_t seed)
{
    Lcg g{seed};
    Bytes out(size);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(g.Next() >> 16);
    return out;
}

Bytes WordText(std::size_t size, std::uint32_t seed)
{
    static const std::array<const char*, 16> words = {"alpha", "beta", "gamma", "delta", "lorem", "ipsum",
                                                      "window", "tree", "symbol", "match", "the", "of",
                                                      "and", "a", "to", "in"};
    Lcg g{seed};
    std::string out;
    while (out.size() < size) {
        const std::uint32_t x = g.Next();
        out += words[(x >> 16) % words.size()];
        out += ((x >> 8) & 15U) == 0 ? '\n' : ' ';
    }
    out.resize(size);
    return FromString(out);
}

Bytes Runs(std::size_t size, std::uint32_t seed)
{
    Lcg g{seed};
    Bytes out;
    while (out.size() < size) {
        const std::uint32_t x = g.Next();
        out.insert(out.end(), 1 + (x >> 8) % 300, static_cast<std::uint8_t>(x >> 24));
    }
    out.resize(size);
    return out;
}

Bytes LeadingSpaces(std::size_t size, std::uint32_t seed)
{
    Bytes out(size / 2, ' ');
    const Bytes text = WordText(size - out.size(), seed);
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

Bytes RebuildInput()
{
    return RandomBytes(48000, 12345);
}

Bytes TextInput()
{
    return WordText(100000, 7);
}

Bytes Encode(const Bytes& in, std::int64_t* bytesRead)
{
    Bytes out;
    std::size_t pos = 0;
    const std::int64_t n = qm::EncodeStream(
        [&](std::uint8_t* b, std::uint16_t count) -> std::uint16_t {
            if (count != 1 || pos >= in.size())
                return 0;
            *b = in[pos++];
            return 1;
        },
        [&](const std::uint8_t* b, std::uint16_t count) { out.insert(out.end(), b, b + count); });
    if (bytesRead)
        *bytesRead = n;
    return out;
}

Bytes Decode(const Bytes& in, std::int32_t size, std::size_t* bytesAsked)
{
    Bytes out;
    std::size_t asked = 0;
    auto reader = [&](std::uint8_t* b, std::uint16_t count) -> std::uint16_t {
        const std::size_t at = asked++;
        if (bytesAsked)
            *bytesAsked = asked; // also when the decoder gives up
        if (count != 1 || at >= in.size())
            return 0;
        *b = in[at];
        return 1;
    };
    if (bytesAsked)
        *bytesAsked = 0;
    const std::int64_t written = qm::DecodeStream(size, reader, [&](const std::uint8_t* b, std::uint16_t count) {
        out.insert(out.end(), b, b + count);
    });
    if (written != static_cast<std::int64_t>(out.size())) // every test that decodes checks the count
        throw std::logic_error("DecodeStream counted " + std::to_string(written) + " bytes written, not " +
                               std::to_string(out.size()));
    return out;
}

std::uint64_t Fnv1a64(const Bytes& data)
{
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (const std::uint8_t b : data)
        h = (h ^ b) * 0x100000001b3ULL;
    return h;
}

std::string Hex(const Bytes& data)
{
    std::string s;
    for (const std::uint8_t b : data) {
        std::array<char, 3> two{};
        std::snprintf(two.data(), two.size(), "%02x", b);
        s += two.data();
    }
    return s;
}

} // namespace lzhtest
