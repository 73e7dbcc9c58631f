#include "base/StringList.h"

#include "base/Stream.h"

namespace qm {

void TStringList::LoadFromText(std::string_view text)
{
    items_.clear();
    text = text.substr(0, text.find('\0'));
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        items_.emplace_back(text.substr(start, end - start));
        if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
            ++end; // CR LF is one break
        if (end < text.size())
            ++end;
        start = end;
    }
}

void TStringList::LoadFromFile(const std::string& path)
{
    TFileStream file(path, TFileStream::Mode::OpenRead);
    std::string text;
    char chunk[8192];
    for (;;) {
        const auto n = file.Read(chunk, sizeof chunk);
        if (n <= 0)
            break;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    LoadFromText(text);
}

} // namespace qm
