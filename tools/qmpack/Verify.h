// Re-reads a release set and checks every line of its list.txt against the
// files beside it: the fields (count, sizes, remote name, duplicates, a
// {prog} target that is a downloaded copy), the file's existence and its
// download size, and for a compressed file that it decodes to exactly its
// installed size (header and data); for a plain file that both sizes agree;
// and the installed SHA-256 (field 7) of the decoded or plain bytes.
//
// The LZH format has no checksum: a damaged coded stream that still decodes
// to the right number of bytes is not found here.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qm::pack {

struct TVerifyReport {
    int Lines = 0; // lines read from list.txt
    std::vector<std::string> Problems; // each "list.txt:LINE: what is wrong"
};

// A missing or unreadable list.txt is reported as a problem, not raised.
TVerifyReport VerifyReleaseSet(const std::filesystem::path& Dir);

} // namespace qm::pack
