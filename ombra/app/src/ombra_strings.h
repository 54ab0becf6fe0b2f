// The program's own texts, by their string numbers.
#pragma once

namespace ombra::frontend::strings {

inline constexpr const char* kAboutMenu = "&About Ombra...";                  // 101
inline constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";  // 102
inline constexpr const char* kImageFilter = "Binart image Files (*.bin)|*.bin|All Files (*.*) |*.*||";  // 104
inline constexpr const char* kImageTitle = "Select an image file to burn...";      // 105
inline constexpr const char* kRegistryKey = "Tarvik";                               // 106
inline constexpr const char* kCaption = "Tarvik Ombra";                             // 107
inline constexpr const char* kCloseQuestion = "Are you sure you want to close Ombra?";  // 108
inline constexpr const char* kCBusFilter = "C-Bus table Files (*.txt)|*.txt|All Files (*.*) |*.*||";  // 115
inline constexpr const char* kCBusTitle = "Select an C-Bus table file to burn...";  // 116

inline constexpr const char* kVersionLine = "Ombra Version 1.01";

}  // namespace ombra::frontend::strings
