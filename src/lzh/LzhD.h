// TLzhD compresses a file (or stream) into the LZH compressed-file format or
// restores the data from it. The format:
//
//   offset 0  4 bytes  signature "!HZL" (not checked when reading)
//   offset 4  4 bytes  uncompressed size, signed, little-endian
//   offset 8  ...      the codec's bit stream (lzh.h) to the end of the file
//
// Set InputFile and OutputFile (or UseStream and both streams), then call
// Compress or Decompress; the properties keep their values for the next call.
// Failures raise ELzrw1Exception, ELzhWriteError when the output cannot be
// written (the codec's ElzhException passes through).
// In file mode a failure after the output file was created deletes it again;
// a stream that ends before UncompressedSize bytes are decoded is such a
// failure (the codec's "LZH : Compressed data ends too early").
// Decompress never writes more than the header's size: a stream that would
// (its last match overshoots) fails with the size text before the block
// that holds the excess is written. With OutputLimit, a header stating more
// is refused before anything is decoded or written.
#pragma once

#include "base/Exception.h"
#include "base/Stream.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace qm {

class ELzrw1Exception : public Exception {
public:
    using Exception::Exception;
};

// The output could not be written: a write came back short or the output
// file's close failed (a full disk). Its message is the write text above.
class ELzhWriteError : public ELzrw1Exception {
public:
    using ELzrw1Exception::ELzrw1Exception;
};

namespace lzh {
class TBlockIO;
class TLzhFile;
}

class TLzhD {
public:
    std::string InputFile;
    std::string OutputFile;
    bool UseStream = false;
    TStream* InputStream = nullptr;  // read at its position in stream mode; not owned
    TStream* OutputStream = nullptr; // written at its position in stream mode; not owned

    // Called after every block and header transfer, so that a long operation
    // on the user-interface thread can let the interface process its pending
    // messages. The application must not start another operation from there.
    std::function<void()> OnProcessMessages;

    // The most Decompress may write (the size the caller expects at most);
    // none: whatever the header states.
    std::optional<std::int64_t> OutputLimit;

    // Closes the output file of file mode and tells whether the system
    // reported success; unset: TLzhFile::Close. A test sets it to see a
    // failed close, which no real file gives on demand.
    std::function<bool(lzh::TLzhFile&)> CloseOutputFile;

    // Both return the number of bytes written: the compressed file with its
    // 8-byte header, or the restored data (then equal to UncompressedSize()).
    std::int64_t Compress();
    std::int64_t Decompress();

    // The size stored in (or read from) the header by the last operation.
    std::int32_t UncompressedSize() const { return uncompressedSize_; }

private:
    struct TEndpoints;
    TEndpoints Open() const;
    template <class Body>
    std::int64_t Guarded(TEndpoints& io, lzh::TBlockIO& blocks, Body&& body);
    std::int32_t MeasureInput(const TEndpoints& io) const;
    void EncodeBody(lzh::TBlockIO& io);
    void DecodeBody(lzh::TBlockIO& io);

    std::int32_t uncompressedSize_ = 0;
};

} // namespace qm
