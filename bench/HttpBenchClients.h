// The two reference downloads the HTTP benchmark sets beside THttpCli::Get.
// Both write the body into Out, as Get writes into its RcvdStream, and run in
// the calling thread. Each returns false (after nothing but a partial write)
// on any failure, a status other than 200, or after ten minutes.
#pragma once

#include "base/Stream.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace qmbench {

// GET /<Size> from 127.0.0.1:Port over one socket in WSAAsyncSelect mode on
// a hidden window, read exactly as the socket component's read loop does: at
// each FD_READ (and at FD_CLOSE) a recv of at most 8191 bytes, then FIONREAD,
// and again while bytes wait; between notifications it sleeps as Get's wait
// does. The head is skipped up to its empty line.
bool BareGet(std::uint16_t Port, std::size_t Size, qm::TStream& Out);

// The same URL through WinINet (InternetOpenUrlA, InternetReadFile into an
// 8192-byte buffer), no cache, no proxy.
bool WinInetGet(const std::string& Url, qm::TStream& Out);

// True when the two files hold the same bytes.
bool SameFiles(const std::string& A, const std::string& B);

} // namespace qmbench
