// qmpack's commands for signed release sets (file formats:
// release/ReleaseFiles.h; options: SignOptions.h):
//
//   qmpack keygen PRIVATE PUBLIC        a new release key pair
//   qmpack build MANIFEST OUTDIR --sign PRIVATE [--sequence N] [--expires DATE]
//                [--mirror URL ...]     pack, then write OUTDIR/list.txt.sig
//                                       (format 3 with mirrors, else 2)
//   qmpack verify [--key PUBLIC] DIR    also check every line's SHA-256
//                                       (field 6) and, with a key, the
//                                       signature; every line must then
//                                       carry a hash, as the loader asks
//
// Errors: a file that cannot be read or written, or is not in its format,
// raises qm::Exception naming it.
#pragma once

#include "release/ReleaseFiles.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qm::pack {

// Writes a new key pair: Private readable and writable by its owner only,
// and refused when it exists already (a release key is never overwritten).
void WriteKeyPair(const std::filesystem::path& Private, const std::filesystem::path& Public);

// Writes Dir/list.txt.sig, the signature of Dir/list.txt with Sequence,
// Expires and Mirrors under the private key in KeyFile, and gives what it
// wrote; the signature is checked with the key's public half first.
TListSignature SignReleaseSet(const std::filesystem::path& Dir, const std::filesystem::path& KeyFile,
                              std::uint64_t Sequence, std::optional<std::int64_t> Expires,
                              const std::vector<std::string>& Mirrors = {});

// "sequence N, valid until DATE TIME UTC" (or "never expires"), then
// ", mirror URL" for each signed mirror, for the user.
std::string DescribeSignature(const TListSignature& Signature);

struct TReleaseCheck {
    // Each "list.txt:LINE: ..." or "list.txt.sig: ...": a hash that is not
    // 64 hex digits or not the file's, and with a key a line without a hash
    // and a signature that is missing, malformed, expired or does not verify.
    std::vector<std::string> Problems;
    std::optional<TListSignature> Signature; // as read, when it could be
};

// The set's hashes and, with KeyFile, its signature, checked at time Now
// (UTC seconds).
TReleaseCheck CheckReleaseHashes(const std::filesystem::path& Dir,
                                 const std::optional<std::filesystem::path>& KeyFile, std::int64_t Now);

} // namespace qm::pack
