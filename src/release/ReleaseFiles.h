// The files that sign a release set, as text: the release key pair that
// "qmpack keygen" writes and the signature "qmpack --sign" writes next to
// list.txt. Portable: qmpack (OpenSSL natively, CNG in its .exe), the loader
// (CNG) and the build (which embeds a public key file) read the same text.
//
// Each file starts with a header line naming the kind, the format version
// and the algorithm, and ends with a line holding the value in hex digits
// (either letter case on reading, lower case on writing). Lines end at LF (a
// CR before it is allowed); the final line break is optional; nothing may
// follow.
//
//   public key   "QMKEY 1 ecdsa-p256-public"   X || Y    (64 bytes)
//   private key  "QMKEY 1 ecdsa-p256-private"  X || Y || d (96 bytes)
//   signature    "QMSIG 2 ecdsa-p256-sha256"
//                "sequence N"
//                "expires T" or "expires never"
//                                              r || s    (64 bytes)
//   signature    "QMSIG 3 ecdsa-p256-sha256"   as format 2, with 1 to
//   with mirrors "sequence N", "expires ..."   MaxSignedMirrors lines
//                "mirror URL" ...              "mirror " + a base URL
//                                              r || s    (64 bytes)
//
// X and Y are the affine coordinates of the NIST P-256 public point, d the
// private scalar, r and s the two halves of an ECDSA signature; every number
// is big-endian in 32 bytes. The signature is made over the SHA-256 of
// SignedListData: its own lines before the signature as FormatListSignature
// writes them, each ended by LF, then list.txt's bytes exactly as served. So
// the publisher's sequence number N (a later list gets a higher one), expiry
// T (UTC seconds since 1970-01-01; the list is valid while now < T) and
// mirrors (MirrorURLProblem) cannot be changed without the key. A signature
// without mirrors is written in format 2, byte for byte as before format 3. N and T are decimal without sign or leading
// zero, at most 2^63-1.
//
// A later format or algorithm gets a new header: readers refuse a header
// they do not know. Signature format 1 (header and r || s over list.txt
// alone) is only recognised, to tell that the list must be signed again.
#pragma once

#include "base/Exception.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

using TPublicKey = std::array<std::uint8_t, 64>;   // X || Y
using TPrivateKey = std::array<std::uint8_t, 96>;  // X || Y || d
using TRawSignature = std::array<std::uint8_t, 64>; // r || s

inline constexpr std::string_view PublicKeyHeader = "QMKEY 1 ecdsa-p256-public";
inline constexpr std::string_view PrivateKeyHeader = "QMKEY 1 ecdsa-p256-private";
inline constexpr std::string_view ListSignatureHeader = "QMSIG 2 ecdsa-p256-sha256";
inline constexpr std::string_view MirrorSignatureHeader = "QMSIG 3 ecdsa-p256-sha256";
// A signature names at most this many mirrors, each of at most
// MaxMirrorURLSize bytes.
inline constexpr std::size_t MaxSignedMirrors = 8;
inline constexpr std::size_t MaxMirrorURLSize = 2048;

// The name of the signature file beside list.txt.
inline constexpr std::string_view SignatureFileName = "list.txt.sig";
// The name of the file beside them that keeps the highest sequence the
// loader has verified there (FormatKeptSequence).
inline constexpr std::string_view SequenceFileName = "list.txt.seq";

// A release file that is not in its format; the message says what is wrong.
class EReleaseFileError : public Exception {
public:
    using Exception::Exception;
};

// What list.txt.sig holds.
struct TListSignature {
    std::uint64_t Sequence = 0;          // at most 2^63-1
    std::optional<std::int64_t> Expires; // not negative; none: "expires never"
    TRawSignature Signature{};
    std::vector<std::string> Mirrors; // base URLs; none: format 2

    bool operator==(const TListSignature&) const = default;
};

// Each Read raises EReleaseFileError; each Format gives the file's text.
// ReadListSignature refuses a format 1 file with a message that the list was
// signed by an older qmpack and must be signed again.
TPublicKey ReadPublicKey(std::string_view Text);
TPrivateKey ReadPrivateKey(std::string_view Text);
TListSignature ReadListSignature(std::string_view Text);
std::string FormatPublicKey(const TPublicKey& Key);
std::string FormatPrivateKey(const TPrivateKey& Key);
// Raises EReleaseFileError for a Sequence or Expires out of range, or a
// mirror that MirrorURLProblem refuses.
std::string FormatListSignature(const TListSignature& Signature);

// Why URL cannot be a signed mirror's base URL, or none: it must start with
// "http://" or "https://", name a host, end with "/", hold only printable
// ASCII without spaces, and be at most MaxMirrorURLSize bytes.
std::optional<std::string> MirrorURLProblem(std::string_view URL);

// The kept sequence file: the header line "QMSEQ 1" and "sequence N", each
// ended by LF. The loader writes it, and reads it as the lowest sequence it
// accepts in that folder when the kept list and signature do not verify (a
// kill between their two renames). Read raises EReleaseFileError.
inline constexpr std::string_view SequenceHeader = "QMSEQ 1";
std::uint64_t ReadKeptSequence(std::string_view Text);
std::string FormatKeptSequence(std::uint64_t Sequence);

// The bytes the signature is made over (see above); raises
// EReleaseFileError for a Sequence or Expires out of range.
std::string SignedListData(std::string_view List, std::uint64_t Sequence, std::optional<std::int64_t> Expires,
                           const std::vector<std::string>& Mirrors = {});

// A number as the signature file writes it: decimal digits without sign or
// leading zero, 0 to 2^63-1; none for any other text.
std::optional<std::int64_t> SignatureNumber(std::string_view Text);

// The public half of a private key.
TPublicKey PublicKeyOf(const TPrivateKey& Key);

} // namespace qm
