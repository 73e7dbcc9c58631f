// qmpack's commands for signed release sets (file formats: app/ReleaseFiles.h):
//
//   qmpack keygen PRIVATE PUBLIC        a new release key pair
//   qmpack build MANIFEST OUTDIR --sign PRIVATE
//                                       pack, then write OUTDIR/list.txt.sig
//   qmpack verify [--key PUBLIC] DIR    also check every line's SHA-256
//                                       (field 6) and, with a key, the
//                                       signature; every line must then
//                                       carry a hash, as the loader asks
//
// Errors: a file that cannot be read or written, or is not in its format,
// raises qm::Exception naming it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qm::pack {

// "--sign FILE" and "--key FILE", anywhere after the subcommand, taken out
// of Args. Error is set (and the rest unspecified) when an option lacks its
// file or is given twice.
struct TSignOptions {
    std::optional<std::filesystem::path> SignKey;   // --sign
    std::optional<std::filesystem::path> VerifyKey; // --key
    std::string Error;
};
TSignOptions TakeSignOptions(std::vector<std::string>& Args);

// Writes a new key pair: Private readable and writable by its owner only,
// and refused when it exists already (a release key is never overwritten).
void WriteKeyPair(const std::filesystem::path& Private, const std::filesystem::path& Public);

// Writes Dir/list.txt.sig, the signature of Dir/list.txt under the private
// key in KeyFile; the signature is checked with the key's public half first.
void SignReleaseSet(const std::filesystem::path& Dir, const std::filesystem::path& KeyFile);

// The problems of the set's hashes and signature, each "list.txt:LINE: ..."
// or "list.txt.sig: ...": a hash that is not 64 hex digits or not the file's,
// and with KeyFile a line without a hash and a signature that is missing,
// malformed or does not verify.
std::vector<std::string> CheckReleaseHashes(const std::filesystem::path& Dir,
                                            const std::optional<std::filesystem::path>& KeyFile);

} // namespace qm::pack
