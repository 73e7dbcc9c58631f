// Names a list may give for a file, with the reason the name rule gives
// (nullptr: accepted); the rule's tests and qmpack's share them.
#pragma once

#include <string>
#include <utility>

inline const std::pair<std::string, const char*> NameForms[] = {
    {"a.txt", nullptr}, {"COM10", nullptr}, {"", "\"\" is empty"}, {".", "\".\" is not a plain file name"},
    {"..", "\"..\" is not a plain file name"}, {"...", "\"...\" ends in a dot or a space, which Windows drops from a name"},
    {"a.bin.", "\"a.bin.\" ends in a dot or a space"}, {"a.bin ", "\"a.bin \" ends in a dot or a space"},
    {"a\x01.bin", "holds a control character"}, {"a:x", "\"a:x\" holds \":\", which Windows takes for a drive or a stream"},
    {"nul", "\"nul\" is a Windows device name"}, {"aux .txt", "is a Windows device name"}, {"LPT9.x.y", "is a Windows device name"},
    {"com\xB9", "is a Windows device name"}, {"x.qm-part.", "ends in a dot or a space"},
    {"a.QM-PART", "\"a.QM-PART\" ends in \".qm-part\", which is kept for unfinished files"},
    {"CONIN$", "\"CONIN$\" is a Windows device name"}, {"conout$.txt", "is a Windows device name"}, {"CONIN", nullptr},
    {"LISTTX~1.SIG", "\"LISTTX~1.SIG\" holds \"~\" and a digit, which Windows may take for another file's short name"},
    {"a~b~9", "holds \"~\" and a digit"}, {"a~.txt", nullptr},
};
