#include "LzhTargets.h"

#include "lzh/LzhBytes.h"
#include "lzh/LzhD.h"
#include "lzh/LzhError.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace qmfuzz {

namespace {

constexpr std::size_t MaxExpanded = 1 << 16;

[[noreturn]] void Fault(const std::string& what)
{
    std::fprintf(stderr, "LZH fuzz target: %s\n", what.c_str());
    std::abort();
}

std::int32_t StoredSize(const std::vector<std::uint8_t>& v)
{
    const std::uint32_t u = static_cast<std::uint32_t>(v[4]) | static_cast<std::uint32_t>(v[5]) << 8U |
                            static_cast<std::uint32_t>(v[6]) << 16U | static_cast<std::uint32_t>(v[7]) << 24U;
    return static_cast<std::int32_t>(u);
}

bool ExpectedFailure(const std::string& message)
{
    return message == "Error reading from input stream !" ||
           message == "Lzrw1 (LZH decompression) : Original and compressed sizes do not match !" ||
           message == qm::lzh::TruncatedStreamText;
}

// Runs one operation and checks that its result is the count it wrote.
std::vector<std::uint8_t> Run(bool compress, const std::vector<std::uint8_t>& input, std::int64_t& result)
{
    auto out = compress ? qm::LzhCompressBytes(input, &result) : qm::LzhDecompressBytes(input, &result);
    if (result != static_cast<std::int64_t>(out.size()))
        Fault("result " + std::to_string(result) + " but " + std::to_string(out.size()) + " bytes written");
    return out;
}

std::vector<std::uint8_t> Expand(const std::uint8_t* data, std::size_t size)
{
    if (size < 3 || (data[0] != 'R' && data[0] != 'X'))
        return {data, data + size};
    const bool vary = data[0] == 'X';
    const std::size_t copies = 1 + std::size_t{data[1]} * 64;
    std::vector<std::uint8_t> out;
    for (std::size_t k = 0; k < copies && out.size() + size - 2 <= MaxExpanded; ++k)
        for (std::size_t i = 2; i < size; ++i)
            out.push_back(vary ? static_cast<std::uint8_t>(data[i] ^ (k * 37)) : data[i]);
    return out;
}

} // namespace

void FuzzDecompress(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::uint8_t> input(data, data + size);
    std::int64_t written = 0;
    try {
        Run(false, input, written);
    } catch (const qm::Exception& e) { // the component's and the codec's
        if (!ExpectedFailure(e.Message))
            Fault("unexpected failure: " + e.Message);
        return;
    }
    if (input.size() < 8 || written != StoredSize(input))
        Fault("decompressed " + std::to_string(written) + " bytes without an error");
}

void FuzzRoundTrip(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::uint8_t> original = Expand(data, size);
    std::int64_t packedSize = 0;
    std::int64_t restoredSize = 0;
    try {
        const auto packed = Run(true, original, packedSize);
        if (packed.size() < 9 || std::string(packed.begin(), packed.begin() + 4) != "!HZL" ||
            StoredSize(packed) != static_cast<std::int32_t>(original.size()))
            Fault("bad header");
        if (Run(false, packed, restoredSize) != original)
            Fault("round trip of " + std::to_string(original.size()) + " bytes changed the data");
    } catch (const qm::Exception& e) {
        Fault("round trip failed: " + e.Message);
    }
}

} // namespace qmfuzz
