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

std::string PathInFolder(std::string_view Folder, std::string_view Name)
{
    std::string path(Folder);
    if (!path.ends_with('\\'))
        path += '\\';
    return path.append(Name);
}

} // namespace qm
