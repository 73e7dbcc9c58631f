// Names as a list may give them for a file, with the reason the name rule
// gives for each (nullptr: accepted): shared by the rule's own tests and
// qmpack's, which must refuse the same names.
#pragma once

#include <string>
#include <utility>

namespace qm::test {

inline const std::pair<std::string, const char*> NameForms[] = {
    {"a.txt", nullptr},
    {"a b.txt", nullptr},
    {"COM10", nullptr},
    {"", "\"\" is empty"},
    {".", "\".\" is not a plain file name"},
    {"..", "\"..\" is not a plain file name"},
    {"...", "\"...\" ends in a dot or a space, which Windows drops from a name"},
    {"a.bin.", "\"a.bin.\" ends in a dot or a space"},
    {"a.bin ", "\"a.bin \" ends in a dot or a space"},
    {"a\x01.bin", "holds a control character"},
    {"a.dll:x", "\"a.dll:x\" holds \":\", which Windows takes for a drive or a stream"},
    {"nul", "\"nul\" is a Windows device name"},
    {"Con.txt", "is a Windows device name"},
    {"aux .txt", "is a Windows device name"},
    {"LPT9.x.y", "is a Windows device name"},
    {"com\xB9", "is a Windows device name"},
    {"a.QM-PART", "\"a.QM-PART\" ends in \".qm-part\", which is kept for unfinished files"},
    {"x.qm-part.", "ends in a dot or a space"},
};

} // namespace qm::test
