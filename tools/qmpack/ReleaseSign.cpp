#include "ReleaseSign.h"

#include "Crypto.h"
#include "PackRules.h"
#include "TextFile.h"
#include "base/ExtraStr.h"

#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace qm::pack {
namespace fs = std::filesystem;
namespace {

#ifdef _WIN32
// The SID of the process's user as text ("S-1-5-21-...").
std::string CurrentUserSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        throw Exception("cannot open the process token");
    alignas(TOKEN_USER) unsigned char buffer[256];
    DWORD size = 0;
    const BOOL ok = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
    CloseHandle(token);
    char* text = nullptr;
    if (!ok || !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text))
        throw Exception("cannot read the user's SID");
    std::string sid = text;
    LocalFree(text);
    return sid;
}
#endif

// Creates Path (never overwriting) with access for its owner only.
void WriteOwnerOnlyFile(const fs::path& Path, const std::string& Text)
{
    const std::string name = Path.string();
#ifdef _WIN32
    // A protected DACL with one entry: full access for the user who runs us.
    const std::string dacl = "D:P(A;;FA;;;" + CurrentUserSid() + ")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(dacl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        throw Exception("cannot make an owner-only access list for " + name);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW, 0, nullptr);
    LocalFree(descriptor);
    if (file == INVALID_HANDLE_VALUE)
        throw Exception(GetLastError() == ERROR_FILE_EXISTS ? name + " exists already: a key is never overwritten"
                                                           : "cannot create " + name);
    DWORD written = 0;
    const BOOL ok = WriteFile(file, Text.data(), static_cast<DWORD>(Text.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != Text.size())
        throw Exception("cannot write " + name);
#else
    const int file = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (file < 0)
        throw Exception(errno == EEXIST ? name + " exists already: a key is never overwritten"
                                        : "cannot create " + name);
    const bool ok = write(file, Text.data(), Text.size()) == static_cast<ssize_t>(Text.size());
    if (close(file) != 0 || !ok)
        throw Exception("cannot write " + name);
#endif
}

template <class T, class Reader>
T ReadReleaseFile(const fs::path& Path, Reader Read)
{
    try {
        return Read(ReadText(Path));
    } catch (const EReleaseFileError& e) {
        throw Exception(Path.string() + ": " + e.Message);
    }
}

// The problems of the signature of List in Dir under the key in KeyFile.
std::vector<std::string> CheckSignature(const fs::path& Dir, const std::string& List, const fs::path& KeyFile)
{
    const TPublicKey key = ReadReleaseFile<TPublicKey>(KeyFile, ReadPublicKey);
    const fs::path sigPath = Dir / SignatureFileName;
    std::error_code ec;
    if (!fs::is_regular_file(sigPath, ec))
        return {"list.txt.sig: missing"};
    try {
        if (!VerifyData(key, List, ReadSignature(ReadText(sigPath))))
            return {"list.txt.sig: does not verify list.txt with " + KeyFile.string()};
    } catch (const EReleaseFileError& e) {
        return {"list.txt.sig: " + e.Message};
    }
    return {};
}

} // namespace

TSignOptions TakeSignOptions(std::vector<std::string>& Args)
{
    TSignOptions options;
    for (std::size_t i = 0; i < Args.size();) {
        const bool sign = Args[i] == "--sign";
        if (!sign && Args[i] != "--key") {
            ++i;
            continue;
        }
        auto& slot = sign ? options.SignKey : options.VerifyKey;
        if (i + 1 >= Args.size() || slot) {
            options.Error = Args[i] + " takes one key file, once";
            return options;
        }
        slot = Args[i + 1];
        Args.erase(Args.begin() + static_cast<std::ptrdiff_t>(i), Args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    }
    return options;
}

void WriteKeyPair(const fs::path& Private, const fs::path& Public)
{
    const TPrivateKey key = GenerateKey();
    WriteOwnerOnlyFile(Private, FormatPrivateKey(key));
    WriteText(Public, FormatPublicKey(PublicKeyOf(key)));
}

void SignReleaseSet(const fs::path& Dir, const fs::path& KeyFile)
{
    const TPrivateKey key = ReadReleaseFile<TPrivateKey>(KeyFile, ReadPrivateKey);
    const std::string list = ReadText(Dir / "list.txt");
    const TRawSignature signature = SignData(key, list);
    if (!VerifyData(PublicKeyOf(key), list, signature))
        throw Exception(KeyFile.string() + ": the key's public half does not belong to its private half");
    WriteText(Dir / SignatureFileName, FormatSignature(signature));
}

std::vector<std::string> CheckReleaseHashes(const fs::path& Dir, const std::optional<fs::path>& KeyFile)
{
    const std::string list = ReadText(Dir / "list.txt");
    std::vector<std::string> problems;
    const std::vector<std::string> lines = SplitListText(list);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string where = "list.txt:" + std::to_string(i + 1) + ": ";
        const TListHash hash = ReadListHash(lines[i]);
        const std::string remote = GetField(lines[i], "\t", 3);
        std::error_code ec;
        if (hash.Kind == TListHash::TKind::Malformed)
            problems.push_back(where + "the SHA-256 hash \"" + hash.Text + "\" is not 64 hex digits");
        else if (hash.Kind == TListHash::TKind::Absent && KeyFile)
            problems.push_back(where + "no SHA-256 hash (field 6), which a signed list needs on every line");
        else if (hash.Kind == TListHash::TKind::Digest && CheckRemoteName(remote) == std::nullopt &&
                 fs::is_regular_file(Dir / remote, ec) && FileSha256(Dir / remote) != hash.Digest)
            problems.push_back(where + "file " + remote + " does not have the listed SHA-256 hash");
    }
    if (KeyFile)
        for (std::string& p : CheckSignature(Dir, list, *KeyFile))
            problems.push_back(std::move(p));
    return problems;
}

} // namespace qm::pack
