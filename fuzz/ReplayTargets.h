// The targets a replay program (replay_main.cpp) knows by name; each replay
// program links one table file that defines ReplayTarget.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qmfuzz {

using TTarget = void (*)(const std::uint8_t*, std::size_t);

// The target called Name, or null.
TTarget ReplayTarget(const std::string& Name);

} // namespace qmfuzz
