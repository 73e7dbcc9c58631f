// English texts for Windows Sockets error codes, and the two-line message the
// socket component builds from a code and the name of the failing function.
// Pure functions; no Windows headers needed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

// The text for Code; "Not a WinSock error" for any code outside the table
// (negative values and unassigned codes such as 10001 or 10072 included).
std::string SocketErrorText(std::int32_t Code);

// "Error <Code> in function <FunctionName>" CR LF <SocketErrorText(Code)>.
std::string SocketErrorMessage(std::int32_t Code, std::string_view FunctionName);

} // namespace qm
