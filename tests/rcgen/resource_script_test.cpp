// The resource script and bitmap file writers, on a small table whose
// texts, styles and bitmap would show a quoting, ordering or row mistake.
#include "rcgen/resource_script.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

constexpr DWORD CHILD = WS_CHILD | WS_VISIBLE;

const DialogItemTemplate ITEMS[] = {
    {CHILD | BS_PUSHBUTTON, 0x20, 1, 2, 30, 12, 7, "BUTTON", "Say \"hi\"", 0},
    {CHILD | SS_BITMAP, 0, -4, 5, 9, 8, 65535, "STATIC", "", 9},
    {CHILD, 0, 3, 4, 5, 6, 8, "CustEdit", "", 0},
};
const DialogTemplate DIALOG{WS_POPUP | WS_CAPTION | DS_SETFONT,
                            0,
                            0,
                            0,
                            120,
                            80,
                            "A \"quoted\" caption",
                            8,
                            "MS Sans Serif",
                            ITEMS,
                            3};

// 3 x 2, so that each row is padded to 4 bytes and a flip shows.
constexpr std::array<uint8_t, 6> PIXELS = {1, 2, 3, 4, 5, 6};
std::array<uint32_t, 256> Palette() {
  std::array<uint32_t, 256> palette{};
  palette[1] = 0x112233;
  return palette;
}
const std::array<uint32_t, 256> PALETTE = Palette();
const BitmapResource BITMAP{3, 2, 8, PALETTE.data(), PIXELS.data()};

const ResourceEntry ENTRIES[] = {{RT_DIALOG_TYPE, 42, &DIALOG}, {RT_BITMAP_TYPE, 9, &BITMAP}};
const ResourceTable TABLE{ENTRIES, 2};

TEST(ResourceScript, WritesEveryDialogAndControlWithFullStylesAndQuotedTexts) {
  const std::string script = rcgen::ResourceScript(TABLE, "/out");
  const std::string expected =
      "42 DIALOGEX 0, 0, 120, 80\n"
      "STYLE 0x80C00040\n"
      "EXSTYLE 0x00000000\n"
      "CAPTION \"A \"\"quoted\"\" caption\"\n"
      "FONT 8, \"MS Sans Serif\", 0, 0, 0\n"
      "BEGIN\n"
      "  CONTROL \"Say \"\"hi\"\"\", 7, \"BUTTON\", 0x50000000, 1, 2, 30, 12, 0x00000020\n"
      "  CONTROL 9, 65535, \"STATIC\", 0x5000000E, -4, 5, 9, 8, 0x00000000\n"
      "  CONTROL \"\", 8, \"CustEdit\", 0x50000000, 3, 4, 5, 6, 0x00000000\n"
      "END\n\n"
      "9 BITMAP \"/out/bitmap9.bmp\"\n\n";
  ASSERT_GE(script.size(), expected.size());
  EXPECT_EQ(script.substr(script.size() - expected.size()), expected);
}

TEST(ResourceScript, BitmapFileHasPaletteAndPaddedRowsBottomUp) {
  const std::vector<uint8_t> file = rcgen::BitmapFile(BITMAP);
  constexpr size_t bits = 14 + 40 + 4 * 256;
  ASSERT_EQ(file.size(), bits + 2 * 4);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(file[2] | file[3] << 8, static_cast<int>(file.size()));
  EXPECT_EQ(file[10] | file[11] << 8, static_cast<int>(bits));
  EXPECT_EQ(file[14 + 4], 3);   // width
  EXPECT_EQ(file[14 + 8], 2);   // height, positive: bottom-up
  EXPECT_EQ(file[14 + 14], 8);  // bits per pixel
  // Palette entry 1 as blue, green, red, 0.
  EXPECT_EQ(file[54 + 4], 0x33);
  EXPECT_EQ(file[54 + 5], 0x22);
  EXPECT_EQ(file[54 + 6], 0x11);
  const std::vector<uint8_t> rows(file.begin() + bits, file.end());
  EXPECT_EQ(rows, (std::vector<uint8_t>{4, 5, 6, 0, 1, 2, 3, 0}));
}

}  // namespace
