#include "ReleaseSign.h"

#include "Crypto.h"
#include "PackRules.h"
#include "SignOptions.h"
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

// Checks the signature of List in Dir under the key in KeyFile at time Now.
void CheckSignature(const fs::path& Dir, const std::string& List, const fs::path& KeyFile, std::int64_t Now,
                    TReleaseCheck& Check)
{
    const TPublicKey key = ReadReleaseFile<TPublicKey>(KeyFile, ReadPublicKey);
    const fs::path sigPath = Dir / SignatureFileName;
    std::error_code ec;
    if (!fs::is_regular_file(sigPath, ec)) {
        Check.Problems.push_back("list.txt.sig: missing");
        return;
    }
    try {
        const TListSignature s = ReadListSignature(ReadText(sigPath));
        Check.Signature = s;
        if (!VerifyData(key, SignedListData(List, s.Sequence, s.Expires, s.Mirrors), s.Signature))
            Check.Problems.push_back("list.txt.sig: does not verify list.txt with " + KeyFile.string());
        else if (s.Expires && Now >= *s.Expires)
            Check.Problems.push_back("list.txt.sig: the list expired at " + UtcText(*s.Expires) +
                                     "; the loader refuses it");
    } catch (const EReleaseFileError& e) {
        Check.Problems.push_back("list.txt.sig: " + e.Message);
    }
}

} // namespace

void WriteKeyPair(const fs::path& Private, const fs::path& Public)
{
    const TPrivateKey key = GenerateKey();
    WriteOwnerOnlyFile(Private, FormatPrivateKey(key));
    WriteText(Public, FormatPublicKey(PublicKeyOf(key)));
}

TListSignature SignReleaseSet(const fs::path& Dir, const fs::path& KeyFile, std::uint64_t Sequence,
                              std::optional<std::int64_t> Expires, const std::vector<std::string>& Mirrors)
{
    const TPrivateKey key = ReadReleaseFile<TPrivateKey>(KeyFile, ReadPrivateKey);
    const std::string data = SignedListData(ReadText(Dir / "list.txt"), Sequence, Expires, Mirrors);
    const TListSignature signature{Sequence, Expires, SignData(key, data), Mirrors};
    if (!VerifyData(PublicKeyOf(key), data, signature.Signature))
        throw Exception(KeyFile.string() + ": the key's public half does not belong to its private half");
    WriteText(Dir / SignatureFileName, FormatListSignature(signature));
    return signature;
}

std::string DescribeSignature(const TListSignature& Signature)
{
    std::string text = "sequence " + std::to_string(Signature.Sequence) +
                       (Signature.Expires ? ", valid until " + UtcText(*Signature.Expires) : ", never expires");
    for (const std::string& mirror : Signature.Mirrors)
        text += ", mirror " + mirror;
    return text;
}

TReleaseCheck CheckReleaseHashes(const fs::path& Dir, const std::optional<fs::path>& KeyFile, std::int64_t Now)
{
    const std::string list = ReadText(Dir / "list.txt");
    TReleaseCheck check;
    std::vector<std::string>& problems = check.Problems;
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
        CheckSignature(Dir, list, *KeyFile, Now, check);
    return check;
}

} // namespace qm::pack
