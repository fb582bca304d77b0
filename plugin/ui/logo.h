// logo.h: the maker's logo, bitmap resource 104, drawn at compile time.
//
// 130 x 32 pixels, one palette index per pixel (top row first) and a
// 256-entry palette of 0x00RRGGBB colours: a kestrel in flight beside the
// word KESTRION, over a dusk gradient that runs from the top left corner to
// the bottom right one.
#pragma once

#include <array>
#include <cstdint>

namespace logo {

constexpr int WIDTH = 130;
constexpr int HEIGHT = 32;

// Palette layout: the gradient first, then the drawing colours, then a grey
// ramp that fills the table.
constexpr int GRADIENT_COLOURS = 240;
constexpr uint8_t INK = 240;   // the lettering
constexpr uint8_t BIRD = 241;  // the kestrel's silhouette
constexpr uint8_t EYE = 242;   // the kestrel's eye
constexpr int PALETTE_SIZE = 256;

constexpr uint32_t DUSK_TOP = 0x0B1D3A;
constexpr uint32_t DUSK_MIDDLE = 0x5A2E6B;
constexpr uint32_t DUSK_BOTTOM = 0xE08A3C;
constexpr uint32_t INK_COLOUR = 0xF4EEDC;
constexpr uint32_t BIRD_COLOUR = 0x1A1410;
constexpr uint32_t EYE_COLOUR = 0xF0B030;

// Channel-wise a + (b - a) * step / steps.
constexpr uint32_t Blend(uint32_t a, uint32_t b, int step, int steps) {
  uint32_t out = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const int from = static_cast<int>((a >> shift) & 0xFF);
    const int to = static_cast<int>((b >> shift) & 0xFF);
    out |= static_cast<uint32_t>(from + (to - from) * step / steps) << shift;
  }
  return out;
}

constexpr std::array<uint32_t, PALETTE_SIZE> MakePalette() {
  std::array<uint32_t, PALETTE_SIZE> palette{};
  constexpr int half = GRADIENT_COLOURS / 2;
  for (int i = 0; i < half; ++i) palette[i] = Blend(DUSK_TOP, DUSK_MIDDLE, i, half);
  for (int i = half; i < GRADIENT_COLOURS; ++i) {
    palette[i] = Blend(DUSK_MIDDLE, DUSK_BOTTOM, i - half, GRADIENT_COLOURS - half - 1);
  }
  palette[INK] = INK_COLOUR;
  palette[BIRD] = BIRD_COLOUR;
  palette[EYE] = EYE_COLOUR;
  for (int i = EYE + 1; i < PALETTE_SIZE; ++i) {
    palette[i] = Blend(0x000000, 0xFFFFFF, i - EYE - 1, PALETTE_SIZE - EYE - 2);
  }
  return palette;
}

// 5 x 7 glyphs of the word, one row per byte, bit 4 the leftmost column.
constexpr int GLYPH_WIDTH = 5;
constexpr int GLYPH_HEIGHT = 7;
constexpr uint8_t WORD_GLYPHS[8][GLYPH_HEIGHT] = {
    {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11},  // K
    {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F},  // E
    {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E},  // S
    {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04},  // T
    {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11},  // R
    {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E},  // I
    {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E},  // O
    {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11},  // N
};
constexpr int GLYPH_SCALE = 2;
constexpr int GLYPH_ADVANCE = (GLYPH_WIDTH + 1) * GLYPH_SCALE;
constexpr int WORD_LEFT = 34;
constexpr int WORD_TOP = (HEIGHT - GLYPH_HEIGHT * GLYPH_SCALE) / 2;
static_assert(WORD_LEFT + 7 * GLYPH_ADVANCE + GLYPH_WIDTH * GLYPH_SCALE <= WIDTH);

constexpr bool InWord(int x, int y) {
  const int dx = x - WORD_LEFT;
  const int dy = y - WORD_TOP;
  if (dx < 0 || dy < 0 || dy >= GLYPH_HEIGHT * GLYPH_SCALE) return false;
  const int letter = dx / GLYPH_ADVANCE;
  const int column = dx % GLYPH_ADVANCE / GLYPH_SCALE;
  if (letter >= 8 || column >= GLYPH_WIDTH) return false;
  const uint8_t row = WORD_GLYPHS[letter][dy / GLYPH_SCALE];
  return (row >> (GLYPH_WIDTH - 1 - column)) & 1;
}

struct Point {
  int x;
  int y;
};

constexpr int Cross(Point a, Point b, Point p) {
  return (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
}

constexpr bool InTriangle(Point a, Point b, Point c, Point p) {
  const int d1 = Cross(a, b, p);
  const int d2 = Cross(b, c, p);
  const int d3 = Cross(c, a, p);
  const bool negative = d1 < 0 || d2 < 0 || d3 < 0;
  const bool positive = d1 > 0 || d2 > 0 || d3 > 0;
  return !(negative && positive);
}

// The kestrel, seen from below: swept wings, a slim body, a round head and
// a fanned tail, symmetric about x = 16.
constexpr bool InBird(int x, int y) {
  const Point p{x, y};
  const bool leftWing = InTriangle({15, 12}, {1, 7}, {11, 17}, p);
  const bool rightWing = InTriangle({17, 12}, {31, 7}, {21, 17}, p);
  const bool body = 49 * (x - 16) * (x - 16) + 9 * (y - 16) * (y - 16) <= 441;
  const bool head = (x - 16) * (x - 16) + (y - 9) * (y - 9) <= 9;
  const bool tail = InTriangle({16, 21}, {12, 29}, {20, 29}, p);
  return leftWing || rightWing || body || head || tail;
}

constexpr std::array<uint8_t, WIDTH * HEIGHT> MakePixels() {
  std::array<uint8_t, WIDTH * HEIGHT> pixels{};
  constexpr int diagonal = 2 * (WIDTH - 1) + 3 * (HEIGHT - 1);
  for (int y = 0; y < HEIGHT; ++y) {
    for (int x = 0; x < WIDTH; ++x) {
      uint8_t index = static_cast<uint8_t>((2 * x + 3 * y) * (GRADIENT_COLOURS - 1) / diagonal);
      if (InWord(x, y)) index = INK;
      if (InBird(x, y)) index = (x == 17 && y == 8) ? EYE : BIRD;
      pixels[y * WIDTH + x] = index;
    }
  }
  return pixels;
}

}  // namespace logo
