// The files that sign a release set, as text: the release key pair that
// "qmpack keygen" writes and the signature "qmpack --sign" writes next to
// list.txt. Portable: qmpack (OpenSSL natively, CNG in its .exe), the loader
// (CNG) and the build (which embeds a public key file) read the same text.
//
// Each file is two lines: a header naming the kind, the format version and
// the algorithm, then the value in hex digits (either letter case on
// reading, lower case on writing). Lines end at LF (a CR before it is
// allowed); the final line break is optional; nothing may follow.
//
//   public key   "QMKEY 1 ecdsa-p256-public"   X || Y    (64 bytes)
//   private key  "QMKEY 1 ecdsa-p256-private"  X || Y || d (96 bytes)
//   signature    "QMSIG 1 ecdsa-p256-sha256"   r || s    (64 bytes)
//
// X and Y are the affine coordinates of the NIST P-256 public point, d the
// private scalar, r and s the two halves of an ECDSA signature over the
// SHA-256 of list.txt's bytes exactly as served; every number is big-endian
// in 32 bytes. A later format or algorithm gets a new header: readers refuse
// a header they do not know.
#pragma once

#include "base/Exception.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

using TPublicKey = std::array<std::uint8_t, 64>;   // X || Y
using TPrivateKey = std::array<std::uint8_t, 96>;  // X || Y || d
using TRawSignature = std::array<std::uint8_t, 64>; // r || s

inline constexpr std::string_view PublicKeyHeader = "QMKEY 1 ecdsa-p256-public";
inline constexpr std::string_view PrivateKeyHeader = "QMKEY 1 ecdsa-p256-private";
inline constexpr std::string_view SignatureHeader = "QMSIG 1 ecdsa-p256-sha256";

// The name of the signature file beside list.txt.
inline constexpr std::string_view SignatureFileName = "list.txt.sig";

// A release file that is not in its format; the message says what is wrong.
class EReleaseFileError : public Exception {
public:
    using Exception::Exception;
};

// Each Read raises EReleaseFileError; each Format gives the file's text.
TPublicKey ReadPublicKey(std::string_view Text);
TPrivateKey ReadPrivateKey(std::string_view Text);
TRawSignature ReadSignature(std::string_view Text);
std::string FormatPublicKey(const TPublicKey& Key);
std::string FormatPrivateKey(const TPrivateKey& Key);
std::string FormatSignature(const TRawSignature& Signature);

// The public half of a private key.
TPublicKey PublicKeyOf(const TPrivateKey& Key);

} // namespace qm
