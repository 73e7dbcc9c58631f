#include "app/Extra.h"

#include <windows.h>

namespace qm {

bool CopyFileTo(const std::string& Source, const std::string& Dest, bool FailIfExists)
{
    return CopyFileA(Source.c_str(), Dest.c_str(), FailIfExists ? TRUE : FALSE) != FALSE;
}

} // namespace qm
