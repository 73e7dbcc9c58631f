#include "release/Sha256Cng.h"

#include <cstdio>

namespace qm {

void CheckCng(NTSTATUS Status, const char* Call)
{
    if (BCRYPT_SUCCESS(Status))
        return;
    char code[16];
    std::snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(Status));
    throw Exception(std::string(Call) + " failed (NTSTATUS 0x" + code + ")");
}

TCngAlgorithm OpenCngAlgorithm(const wchar_t* Name)
{
    BCRYPT_ALG_HANDLE handle = nullptr;
    CheckCng(BCryptOpenAlgorithmProvider(&handle, Name, nullptr, 0), "BCryptOpenAlgorithmProvider");
    return TCngAlgorithm(handle);
}

} // namespace qm
