// Fuzz targets for the loader's input from the network: list.txt and its
// fields, URLs, the scrambled server address and the HTTP response as the
// client receives it. Shared by the libFuzzer entry (fuzz_input.cpp) and the
// replay program (replay_main.cpp). A target that finds a fault prints it and
// aborts; an input that is merely malformed is no fault.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qmfuzz {

// The bytes as list.txt: loaded into lines, each line read as the download
// run reads it; the stored line must keep every field but the target path,
// and a RemoteName taken as plain must keep its file in its directory.
void FuzzFileList(const std::uint8_t* data, std::size_t size);

// The bytes as a URL: its parts must be pieces of it, in order.
void FuzzSplitURL(const std::uint8_t* data, std::size_t size);

// The bytes as a scrambled address (descrambled), and as a plain one (which
// must come back from scrambling and descrambling).
void FuzzDescramble(const std::uint8_t* data, std::size_t size);

// The bytes as a response received in pieces: byte 0 gives the count k of
// piece-size bytes that follow (k = byte 0 % 16, sizes cycled; none: one
// piece); the rest is the response. Cut into header lines and document
// chunks through the client's own receive buffer, it must give the same
// lines, end and document however it is split, and as a reading of the whole
// response at once.
void FuzzResponse(const std::uint8_t* data, std::size_t size);

// The bytes as a Retry-After value (byte 0: the maximum), and as a log line's text and a URL.
void FuzzRetryAfter(const std::uint8_t* data, std::size_t size);
void FuzzLogLine(const std::uint8_t* data, std::size_t size);

} // namespace qmfuzz
