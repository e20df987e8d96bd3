// The picture of the terminal on the settings dialog's page "О терминале",
// drawn with GDI rather than kept as image data.
#pragma once

#include <windows.h>

namespace pdt {

inline constexpr int kTerminalPictureSize = 124;  // pixels, square

// Draws the picture with its top-left corner at `origin`, over the
// background already there.
void DrawTerminalPicture(HDC dc, POINT origin);

}  // namespace pdt
