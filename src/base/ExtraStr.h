// Text utilities of the program: hexadecimal digits, the scrambled form in
// which the server address is stored, case-blind comparison, replacement and
// access to the fields of separated lines. No state.
//
// Texts are byte strings. Positions are 1-based and 0 means "none"; counts and
// positions that cannot be met give an empty text rather than an error.
//
// Fields: a text is cut into fields numbered from 0 at each occurrence of a
// separator. Field 0 runs from the start to the first separator, field n from
// the end of the n-th separator to the start of the next one, the last field
// to the end of the text. A text without any separator has no field at all,
// not even field 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

// The value of the hexadecimal digits of S (either case). A character that is
// no digit counts as -1 at its place. The place multiplier is checked after
// every character, so 8 or more characters raise EIntOverflow whatever they
// are; the empty text gives 0.
std::int32_t HexToInt(std::string_view S);

std::string ReverseText(std::string_view S);

// The inverse pair that keeps the server address out of plain sight in the
// binary. For every byte string P: DescrambleText(ScrambleText(P)) == P.
std::string DescrambleText(std::string_view S);
std::string ScrambleText(std::string_view P);

// A and B are equal once the ASCII letters a-z of both are upper-cased.
bool TextEquals(std::string_view A, std::string_view B);

// Replaces the first occurrence of Find in S (letter case significant).
// False, and S unchanged, when there is none or Find is empty.
bool ReplaceFirst(std::string& S, std::string_view Find, std::string_view Replacement);

// The 1-based position in S of the first Sub that starts at or after From,
// 0 when there is none or Sub is empty. From 0 searches from the start.
std::size_t PosFrom(std::string_view Sub, std::string_view S, std::size_t From);

// Field N of S, empty when it does not exist.
std::string GetField(std::string_view S, std::string_view Sep, std::size_t N);

// Replaces field N of S by Value and returns true; false, and S unchanged,
// when field N does not exist.
bool ReplaceField(std::string& S, std::string_view Value, std::string_view Sep, std::size_t N);

// S without its last N characters; empty when N exceeds the length.
std::string DropLast(std::string_view S, std::size_t N);

// Whether Name opens a Windows device rather than a file: CON, PRN, AUX, NUL,
// CONIN$, CONOUT$, COM1-9 or LPT1-9 (also with a superscript 1-3) in any letter case, with or
// without spaces and an extension behind.
bool IsDeviceName(std::string_view Name);

} // namespace qm
