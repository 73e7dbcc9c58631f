// The speed button: a flat-faced push button that never takes the keyboard
// focus, so pressing it leaves the focus where it was. It shows its window
// text (with a "&" mnemonic) or, once given one, a bitmap glyph centred.
//
// A child window of the class SpeedButtonClass, created with
// CreateWindowExA after RegisterSpeedButtonClass(). It answers:
//  - WM_SETTEXT / WM_GETTEXT: the caption (default handling);
//  - WM_SETFONT / WM_GETFONT: the caption's font (not owned);
//  - BM_SETIMAGE (IMAGE_BITMAP): the glyph (not owned); drawn with the colour
//    of its bottom-left pixel left out;
//  - BM_CLICK: sends WM_COMMAND (control id, BN_CLICKED) to the parent when
//    enabled, as a mouse click does;
//  - WM_GETDLGCODE: DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON, so a dialog-style
//    message loop clicks it on its Alt+letter mnemonic.
#pragma once

namespace qm::ui {

inline constexpr const char* SpeedButtonClass = "QmSpeedButton";

// Registers the class once per process; raises qm::Exception on failure.
void RegisterSpeedButtonClass();

} // namespace qm::ui
