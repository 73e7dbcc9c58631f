// An ordered list of texts. Loading splits at CR LF, a lone LF or a lone CR;
// a line break at the very end adds no empty line, and a 0 byte ends the text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qm {

class TStringList {
public:
    void LoadFromText(std::string_view text);
    // Raises EStreamError when the file cannot be opened.
    void LoadFromFile(const std::string& path);

    int Count() const { return static_cast<int>(items_.size()); }
    void Add(std::string s) { items_.push_back(std::move(s)); }
    void Clear() { items_.clear(); }
    const std::string& Get(int index) const { return items_.at(static_cast<std::size_t>(index)); }
    void Put(int index, std::string s) { items_.at(static_cast<std::size_t>(index)) = std::move(s); }
    const std::string& operator[](int index) const { return Get(index); }

private:
    std::vector<std::string> items_;
};

} // namespace qm
