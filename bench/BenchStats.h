// Small measuring helpers shared by the Windows benchmarks.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace qmbench {

// User plus kernel seconds the calling thread has run; 0 when unknown. Less
// swayed by a busy machine than the wall clock.
inline double ThreadCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user))
        return 0;
    const auto seconds = [](const FILETIME& T) {
        return static_cast<double>((static_cast<std::uint64_t>(T.dwHighDateTime) << 32) | T.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// The median of a non-empty V.
inline double Median(std::vector<double> V)
{
    std::sort(V.begin(), V.end());
    const std::size_t n = V.size();
    return n % 2 == 1 ? V[n / 2] : (V[n / 2 - 1] + V[n / 2]) / 2;
}

} // namespace qmbench
