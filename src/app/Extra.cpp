#include "app/Extra.h"

namespace qm {

std::string FileNameOf(std::string_view Path)
{
    const std::size_t slash = Path.find_last_of("\\:");
    return std::string(slash == std::string_view::npos ? Path : Path.substr(slash + 1));
}

std::string FileBaseName(std::string_view Path)
{
    const std::string name = FileNameOf(Path);
    return name.substr(0, name.find('.'));
}

} // namespace qm
