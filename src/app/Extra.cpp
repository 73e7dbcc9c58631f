#include "app/Extra.h"

namespace qm {

std::string FileBaseName(std::string_view Path)
{
    const std::size_t slash = Path.find_last_of("\\:");
    const std::string_view name = slash == std::string_view::npos ? Path : Path.substr(slash + 1);
    return std::string(name.substr(0, name.find('.')));
}

} // namespace qm
