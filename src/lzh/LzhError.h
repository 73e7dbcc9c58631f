// The codec's exception and its texts.
#pragma once

#include "base/Exception.h"

namespace qm {

class ElzhException : public Exception {
public:
    using Exception::Exception;
};

namespace lzh {

// The decoder needed bits past the end of its input (see TBitReader).
inline constexpr const char* TruncatedStreamText = "LZH : Compressed data ends too early";

} // namespace lzh

} // namespace qm
