#include "lzh/LzhBytes.h"

#include "base/Stream.h"
#include "lzh/LzhD.h"

namespace qm {

namespace {

std::vector<std::uint8_t> Run(std::int64_t (TLzhD::*operation)(), const std::vector<std::uint8_t>& input,
                              std::int64_t* result)
{
    TMemoryStream in(input);
    TMemoryStream out;
    TLzhD lzh;
    lzh.UseStream = true;
    lzh.InputStream = &in;
    lzh.OutputStream = &out;
    const std::int64_t r = (lzh.*operation)();
    if (result)
        *result = r;
    return out.Bytes();
}

} // namespace

std::vector<std::uint8_t> LzhCompressBytes(const std::vector<std::uint8_t>& data, std::int64_t* result)
{
    return Run(&TLzhD::Compress, data, result);
}

std::vector<std::uint8_t> LzhDecompressBytes(const std::vector<std::uint8_t>& packed, std::int64_t* result)
{
    return Run(&TLzhD::Decompress, packed, result);
}

} // namespace qm
