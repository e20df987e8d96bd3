#include "driver/main_form_picture.h"

#include <array>

namespace pdt {
namespace {

// One filled shape with its outline; the pen and brush live as long as it is drawn.
class Paint {
  public:
    Paint(HDC dc, COLORREF fill, COLORREF outline)
        : dc_(dc),
          brush_(CreateSolidBrush(fill)),
          pen_(CreatePen(PS_SOLID, 1, outline)),
          oldBrush_(SelectObject(dc, brush_)),
          oldPen_(SelectObject(dc, pen_)) {}
    ~Paint() {
        SelectObject(dc_, oldBrush_);
        SelectObject(dc_, oldPen_);
        DeleteObject(brush_);
        DeleteObject(pen_);
    }
    Paint(const Paint&) = delete;
    Paint& operator=(const Paint&) = delete;

  private:
    HDC dc_;
    HBRUSH brush_;
    HPEN pen_;
    HGDIOBJ oldBrush_;
    HGDIOBJ oldPen_;
};

struct Shape {
    RECT bounds;
    int corner;  // diameter of the rounded corners; 0: square
    COLORREF fill;
    COLORREF outline;
};

void DrawShape(HDC dc, POINT origin, const Shape& shape) {
    const Paint paint(dc, shape.fill, shape.outline);
    const RECT& r = shape.bounds;
    const int left = origin.x + r.left;
    const int top = origin.y + r.top;
    const int right = origin.x + r.right;
    const int bottom = origin.y + r.bottom;
    if (shape.corner > 0)
        RoundRect(dc, left, top, right, bottom, shape.corner, shape.corner);
    else
        Rectangle(dc, left, top, right, bottom);
}

constexpr COLORREF kCaseColour = RGB(58, 62, 72);
constexpr COLORREF kCaseEdge = RGB(24, 24, 30);
constexpr COLORREF kKeyColour = RGB(206, 206, 212);
constexpr COLORREF kKeyEdge = RGB(92, 92, 100);

// The case: a tall body with the scan head on top and a shadow to its right.
constexpr std::array<Shape, 5> kCase = {{
    {{36, 8, 94, 123}, 16, RGB(150, 150, 156), RGB(150, 150, 156)},  // shadow
    {{32, 4, 90, 119}, 16, kCaseColour, kCaseEdge},                  // body
    {{44, 0, 78, 9}, 6, RGB(38, 38, 44), kCaseEdge},                 // scan head
    {{50, 1, 72, 4}, 0, RGB(210, 40, 36), RGB(150, 20, 20)},         // scan window
    {{38, 13, 84, 53}, 6, RGB(28, 28, 34), kCaseEdge},               // display bezel
}};

// The 98 x 64 display, showing a few lines of a data-collection form.
constexpr Shape kDisplay = {{41, 16, 81, 50}, 0, RGB(170, 192, 140), RGB(90, 110, 70)};
constexpr COLORREF kPixelColour = RGB(40, 56, 34);
constexpr std::array<RECT, 5> kDisplayText = {{
    {44, 19, 70, 22},
    {44, 25, 64, 27},
    {44, 30, 76, 32},
    {44, 35, 58, 37},
    {44, 42, 50, 46},  // cursor
}};

void DrawDisplay(HDC dc, POINT origin) {
    DrawShape(dc, origin, kDisplay);
    for (const RECT& line : kDisplayText)
        DrawShape(dc, origin, {line, 0, kPixelColour, kPixelColour});
}

// Four function keys, a 3 x 4 block of digit keys and a tall Enter key.
void DrawKeypad(HDC dc, POINT origin) {
    constexpr std::array<COLORREF, 4> functionColours = {RGB(232, 196, 48), RGB(70, 120, 210),
                                                         RGB(70, 120, 210), RGB(210, 60, 50)};
    constexpr std::array<int, 4> columns = {39, 51, 63, 75};
    for (size_t i = 0; i < columns.size(); ++i) {
        const int x = columns[i];
        DrawShape(dc, origin, {{x, 57, x + 10, 63}, 3, functionColours[i], kKeyEdge});
    }
    for (int row = 0; row < 4; ++row) {
        const int y = 67 + row * 11;
        for (int column = 0; column < 3; ++column) {
            const int x = columns[static_cast<size_t>(column)];
            DrawShape(dc, origin, {{x, y, x + 10, y + 8}, 3, kKeyColour, kKeyEdge});
        }
    }
    DrawShape(dc, origin, {{75, 67, 85, 86}, 3, kKeyColour, kKeyEdge});
    DrawShape(dc, origin, {{75, 89, 85, 108}, 3, RGB(80, 170, 80), RGB(40, 100, 40)});  // Enter
}

}  // namespace

void DrawTerminalPicture(HDC dc, POINT origin) {
    for (const Shape& shape : kCase) DrawShape(dc, origin, shape);
    DrawDisplay(dc, origin);
    DrawKeypad(dc, origin);
}

}  // namespace pdt
