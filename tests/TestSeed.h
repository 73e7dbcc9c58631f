// The seed of a randomised test: QM_TEST_SEED when set (to replay a failure),
// else a fresh one. The caller prints it with SCOPED_TRACE so a failure
// names the seed that found it.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

namespace qm::test {

inline std::uint32_t TestSeed()
{
    if (const char* fixed = std::getenv("QM_TEST_SEED"))
        return static_cast<std::uint32_t>(std::stoul(fixed));
    return std::random_device{}();
}

inline std::string RandomBytes(std::mt19937& rng, std::size_t maxLength)
{
    std::uniform_int_distribution<std::size_t> length(0, maxLength);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string s(length(rng), '\0');
    for (char& c : s)
        c = static_cast<char>(byte(rng));
    return s;
}

} // namespace qm::test
