#include "TextFile.h"

#include "base/Exception.h"

#include <fstream>
#include <sstream>

namespace qm::pack {

std::string ReadText(const std::filesystem::path& Path)
{
    std::ifstream in(Path, std::ios::binary);
    if (!in)
        throw Exception("cannot read " + Path.string());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::filesystem::path& Path, const std::string& Text)
{
    std::ofstream out(Path, std::ios::binary | std::ios::trunc);
    out << Text;
    out.close();
    if (!out)
        throw Exception("cannot write " + Path.string());
}

} // namespace qm::pack
