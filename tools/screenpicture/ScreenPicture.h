// Saves a rectangle of the screen as a 24-bit BMP file: the pictures of the
// program's windows that the screenshot test and the demo driver take.
#pragma once

#include <windows.h>

#include <string>

namespace qm::tools {

// Area is in screen coordinates. False when the picture could not be taken
// or the file not written completely.
bool SaveScreenPicture(const RECT& Area, const std::string& Path);

} // namespace qm::tools
