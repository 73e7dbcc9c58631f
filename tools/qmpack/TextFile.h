// Whole files as byte strings, for qmpack's small files (manifest, list,
// keys, signature). Errors raise qm::Exception naming the file.
#pragma once

#include <filesystem>
#include <string>

namespace qm::pack {

std::string ReadText(const std::filesystem::path& Path);
// Writes Text as the whole file, replacing what was there.
void WriteText(const std::filesystem::path& Path, const std::string& Text);

} // namespace qm::pack
