// Message boxes for programs that have no window of their own.
// OMBRA_MESSAGEBOX=yes|no answers at once (scripted and test runs); without
// it and without a display the text goes to stderr and the safe answer is
// given; with a display the helper program "ombra-msgbox" asks the user
// (if it is missing: stderr and the safe answer again).
#pragma once

#include "ombra/platform/types.h"

// Buttons (low 4 bits) and icons.
constexpr DWORD MB_OK = 0x0;
constexpr DWORD MB_OKCANCEL = 0x1;
constexpr DWORD MB_YESNOCANCEL = 0x3;
constexpr DWORD MB_YESNO = 0x4;
constexpr DWORD MB_ICONERROR = 0x10;
constexpr DWORD MB_ICONHAND = MB_ICONERROR;
constexpr DWORD MB_ICONSTOP = MB_ICONERROR;
constexpr DWORD MB_ICONQUESTION = 0x20;
constexpr DWORD MB_ICONWARNING = 0x30;
constexpr DWORD MB_ICONEXCLAMATION = MB_ICONWARNING;
constexpr DWORD MB_ICONINFORMATION = 0x40;
constexpr DWORD MB_ICONASTERISK = MB_ICONINFORMATION;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

namespace ombra::platform {

// The safe answers: IDNO for Yes/No, IDCANCEL when there is a Cancel
// button, IDOK for a plain box. Null texts count as empty.
int messageBox(const char* text, const char* caption, DWORD type);

}  // namespace ombra::platform
