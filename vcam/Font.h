// A 5x7 bitmap font for the texts drawn into the scene and the frame counter.
#pragma once

namespace vcam {

constexpr int kGlyphW = 5;
constexpr int kGlyphH = 7;

// True when pixel (x, y) of character c is ink; x in [0,5), y in [0,7) from
// the top. Unknown characters are blank.
bool glyphPixel(char c, int x, int y);

}  // namespace vcam
