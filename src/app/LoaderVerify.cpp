// TaForm: what makes a release set trustworthy to the download run. With a
// release key (TAppSeams::ReleasePublicKey) list.txt must come with a valid
// list.txt.sig and every line must carry its file's SHA-256 (field 6); with
// or without a key, a line's hash is checked against the bytes received
// (DownloadFile), and a hash that is not 64 hex digits is a bad line.
#include "app/Loader.h"

#include "app/RunError.h"
#include "release/SignatureCng.h"

namespace qm {
namespace {

constexpr const char* NotVerified = "The file list could not be verified: ";

// A signature file is two short lines; anything much longer is not one.
constexpr std::int32_t SignatureFileLimit = 4096;

// Up to Limit + 1 bytes of the file at Path (more than Limit: too long).
std::string ReadFileStart(const std::string& Path, std::int32_t Limit)
{
    TFileStream file(Path, TFileStream::Mode::OpenRead);
    std::string bytes;
    char buffer[4096];
    std::int32_t n = 0;
    while (bytes.size() <= static_cast<std::size_t>(Limit) && (n = file.Read(buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<std::size_t>(n));
    if (n < 0)
        throw EStreamError("Cannot read the file: " + Path);
    return bytes;
}

std::string ReadWhole(const std::string& Path)
{
    return ReadFileStart(Path, INT32_MAX - 4096);
}

} // namespace

bool TaForm::CheckListSignature()
{
    if (seams_.ReleasePublicKey.empty())
        return true;
    const std::string sigPath = DownloadDir + "\\" + std::string(SignatureFileName);
    if (DownloadFile(ServerBaseURL() + std::string(SignatureFileName), sigPath) < 0) {
        if (CancelRequested || ClosePending)
            return false;
        throw ERunError(NotVerified + std::string(SignatureFileName) + " could not be fetched: " + LastMessage);
    }
    if (ClosePending)
        return false;
    try {
        const TPublicKey key = ReadPublicKey(seams_.ReleasePublicKey);
        const std::string sigText = ReadFileStart(sigPath, SignatureFileLimit);
        if (sigText.size() > static_cast<std::size_t>(SignatureFileLimit))
            throw EReleaseFileError("the signature file is too long");
        const TRawSignature signature = ReadSignature(sigText);
        if (!VerifyReleaseSignature(key, ReadWhole(DownloadDir + "\\list.txt"), signature))
            throw EReleaseFileError("its signature does not match it (altered, or signed with another key)");
    } catch (const EReleaseFileError& e) {
        throw ERunError(NotVerified + e.Message + ".");
    } catch (const EStreamError& e) {
        throw ERunError(NotVerified + e.Message);
    }
    return true;
}

std::optional<TSha256Digest> TaForm::ExpectedHash(const std::string& Line, int LineNumber) const
{
    const TListHash hash = ReadListHash(Line);
    switch (hash.Kind) {
    case TListHash::TKind::Digest:
        return hash.Digest;
    case TListHash::TKind::Malformed:
        throw ERunError("The SHA-256 hash in line " + std::to_string(LineNumber) +
                        " of the file list is not 64 hex digits: \"" + hash.Text + "\"");
    case TListHash::TKind::Absent:
        break;
    }
    if (!seams_.ReleasePublicKey.empty())
        throw ERunError(NotVerified + std::string("line ") + std::to_string(LineNumber) +
                        " carries no SHA-256 hash of its file.");
    return std::nullopt;
}

} // namespace qm
