#include "lzh/LzhD.h"

#include "lzh/BlockIO.h"
#include "lzh/LzhFile.h"
#include "lzh/lzh.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <memory>

namespace qm {

namespace {

constexpr std::array<std::uint8_t, 4> Signature = {0x21, 0x48, 0x5A, 0x4C}; // "!HZL"
constexpr const char* SizeMismatch = "Lzrw1 (LZH decompression) : Original and compressed sizes do not match !";

std::array<std::uint8_t, 4> LittleEndian(std::int32_t v)
{
    const auto u = static_cast<std::uint32_t>(v);
    return {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
            static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)};
}

std::int32_t FromLittleEndian(const std::array<std::uint8_t, 4>& b)
{
    const std::uint32_t u = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8U |
                            static_cast<std::uint32_t>(b[2]) << 16U | static_cast<std::uint32_t>(b[3]) << 24U;
    return static_cast<std::int32_t>(u);
}

} // namespace

// The two ends of one operation. In file mode the component opens and owns
// the files; in stream mode it borrows the caller's streams.
struct TLzhD::TEndpoints {
    std::unique_ptr<TFileStream> InFile;
    std::unique_ptr<lzh::TLzhFile> OutFile;
    TStream* In = nullptr;
    TStream* Out = nullptr;
    lzh::TIoTexts Texts;
};

TLzhD::TEndpoints TLzhD::Open() const
{
    TEndpoints io;
    if (UseStream) {
        io.In = InputStream;
        io.Out = OutputStream;
        if (!io.In)
            throw ELzrw1Exception("Error:input");
        if (!io.Out)
            throw ELzrw1Exception("Error:output");
        io.Texts = {"Error reading from input stream !", "Error reading from input stream ! (LZH)",
                    "Error writing to output stream !"};
        return io;
    }
    try {
        io.InFile = std::make_unique<TFileStream>(InputFile, TFileStream::Mode::OpenRead);
    } catch (const EStreamError&) {
        throw ELzrw1Exception("Error:input" + InputFile);
    }
    io.In = io.InFile.get();
    io.Texts = {"Error reading from input file : " + InputFile,
                "Error reading from input file : " + InputFile + " (LZH)",
                "Error writing to output file : " + OutputFile};
    return io;
}

// Runs body on the opened ends. A failure in file mode removes the half
// written output file; in either mode the exception reaches the caller.
template <class Body>
std::int64_t TLzhD::Guarded(TEndpoints& io, lzh::TBlockIO& blocks, Body&& body)
{
    if (!UseStream) {
        io.OutFile = lzh::TLzhFile::Create(OutputFile);
        if (!io.OutFile)
            throw ELzrw1Exception("Error:output" + OutputFile);
        io.Out = io.OutFile.get();
    }
    try {
        blocks.Attach(*io.In, *io.Out, io.Texts);
        body(blocks);
        if (io.OutFile && !(CloseOutputFile ? CloseOutputFile(*io.OutFile) : io.OutFile->Close()))
            throw ELzhWriteError(io.Texts.Write);
        return blocks.TotalWritten();
    } catch (...) {
        if (io.OutFile) {
            io.OutFile.reset();
            std::remove(OutputFile.c_str());
        }
        throw;
    }
}

// The size for the header, taken from the opened input so that it matches
// the data coded. The format stores it in 31 bits.
std::int32_t TLzhD::MeasureInput(const TEndpoints& io) const
{
    const std::int64_t size = io.In->Size();
    if (size < 0)
        throw ELzrw1Exception(io.Texts.ReadBlock);
    if (size > std::numeric_limits<std::int32_t>::max()) {
        throw ELzrw1Exception(UseStream ? std::string("Input stream too large for LZH (2 GB at most) !")
                                        : "Input file too large for LZH (2 GB at most) : " + InputFile);
    }
    return static_cast<std::int32_t>(size);
}

std::int64_t TLzhD::Compress()
{
    lzh::TBlockIO blocks(OnProcessMessages);
    TEndpoints io = Open();
    uncompressedSize_ = MeasureInput(io);
    return Guarded(io, blocks, [this](lzh::TBlockIO& b) { EncodeBody(b); });
}

std::int64_t TLzhD::Decompress()
{
    lzh::TBlockIO blocks(OnProcessMessages);
    TEndpoints io = Open();
    return Guarded(io, blocks, [this](lzh::TBlockIO& b) { DecodeBody(b); });
}

void TLzhD::EncodeBody(lzh::TBlockIO& io)
{
    io.WriteDirect(Signature.data(), 4);
    io.WriteDirect(LittleEndian(uncompressedSize_).data(), 4);
    EncodeStream([&io](std::uint8_t* b, std::uint16_t n) { return io.ReadBlock(b, n); },
                 [&io](const std::uint8_t* b, std::uint16_t n) { return io.WriteBlock(b, n); });
    io.Flush();
}

void TLzhD::DecodeBody(lzh::TBlockIO& io)
{
    std::array<std::uint8_t, 4> field{};
    io.ReadDirect(field.data(), 4); // the signature is not examined
    io.ReadDirect(field.data(), 4);
    uncompressedSize_ = FromLittleEndian(field);
    if (OutputLimit && uncompressedSize_ > *OutputLimit)
        throw ELzrw1Exception("Lzrw1 (LZH decompression) : the file states " + std::to_string(uncompressedSize_) +
                              " bytes, more than the " + std::to_string(*OutputLimit) + " expected !");
    io.LimitWrites(std::max(uncompressedSize_, 0), SizeMismatch);
    DecodeStream(uncompressedSize_,
                 [&io](std::uint8_t* b, std::uint16_t n) { return io.ReadBlock(b, n); },
                 [&io](const std::uint8_t* b, std::uint16_t n) { return io.WriteBlock(b, n); });
    io.Flush();
    if (io.TotalWritten() != uncompressedSize_)
        throw ELzrw1Exception(SizeMismatch);
}

} // namespace qm
