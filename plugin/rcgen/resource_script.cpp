// resource_script.cpp: the resource script and bitmap file writers.
#include "rcgen/resource_script.h"

#include <cstdio>
#include <sstream>

namespace rcgen {
namespace {

constexpr int BITMAP_FILE_HEADER_SIZE = 14;
constexpr int BITMAP_INFO_HEADER_SIZE = 40;
constexpr int PALETTE_ENTRIES = 256;
constexpr int32_t PIXELS_PER_METRE = 2835;  // 72 dots per inch

// A string in the script's quotes: quotes doubled, the rest as it is.
std::string Quoted(const char* text) {
  std::string out = "\"";
  for (const char* c = text ? text : ""; *c; ++c) {
    if (*c == '"') out += '"';
    out += *c;
  }
  return out + '"';
}

std::string Hex(DWORD value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(value));
  return buffer;
}

void WriteDialog(std::ostream& out, WORD id, const DialogTemplate& dialog) {
  out << id << " DIALOGEX " << dialog.x << ", " << dialog.y << ", " << dialog.cx << ", "
      << dialog.cy << "\n";
  out << "STYLE " << Hex(dialog.style) << "\n";
  out << "EXSTYLE " << Hex(dialog.exStyle) << "\n";
  out << "CAPTION " << Quoted(dialog.caption) << "\n";
  if (dialog.style & DS_SETFONT) {
    out << "FONT " << dialog.pointSize << ", " << Quoted(dialog.typeface) << ", 0, 0, 0\n";
  }
  out << "BEGIN\n";
  for (WORD i = 0; dialog.items && i < dialog.itemCount; ++i) {
    const DialogItemTemplate& item = dialog.items[i];
    // A bitmap static's text is the number of the bitmap it shows.
    const bool bitmap = (item.style & SS_TYPEMASK) == SS_BITMAP && item.imageId != 0;
    out << "  CONTROL " << (bitmap ? std::to_string(item.imageId) : Quoted(item.text)) << ", "
        << item.id << ", " << Quoted(item.windowClass) << ", " << Hex(item.style) << ", " << item.x
        << ", " << item.y << ", " << item.cx << ", " << item.cy << ", " << Hex(item.exStyle)
        << "\n";
  }
  out << "END\n\n";
}

void PutLittleEndian(std::vector<uint8_t>& bytes, uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

std::string BitmapFileName(WORD id) { return "bitmap" + std::to_string(id) + ".bmp"; }

std::string ResourceScript(const ResourceTable& table, const std::string& folder) {
  std::ostringstream out;
  out << "// The module's resources, written by kestrion_rcgen from its resource\n"
         "// table (ui/resources.cpp). Not to be edited.\n\n";
  for (uint32_t i = 0; table.entries && i < table.count; ++i) {
    const ResourceEntry& entry = table.entries[i];
    if (entry.type == RT_DIALOG_TYPE) {
      WriteDialog(out, entry.id, *static_cast<const DialogTemplate*>(entry.data));
    } else if (entry.type == RT_BITMAP_TYPE) {
      out << entry.id << " BITMAP " << Quoted((folder + "/" + BitmapFileName(entry.id)).c_str())
          << "\n\n";
    }
  }
  return out.str();
}

std::vector<uint8_t> BitmapFile(const BitmapResource& bitmap) {
  const uint32_t stride = (static_cast<uint32_t>(bitmap.width) + 3u) & ~3u;
  const uint32_t imageSize = stride * static_cast<uint32_t>(bitmap.height);
  const uint32_t bitsOffset =
      BITMAP_FILE_HEADER_SIZE + BITMAP_INFO_HEADER_SIZE + 4 * PALETTE_ENTRIES;
  std::vector<uint8_t> bytes;
  bytes.reserve(bitsOffset + imageSize);
  // BITMAPFILEHEADER
  bytes.push_back('B');
  bytes.push_back('M');
  PutLittleEndian(bytes, bitsOffset + imageSize, 4);
  PutLittleEndian(bytes, 0, 4);
  PutLittleEndian(bytes, bitsOffset, 4);
  // BITMAPINFOHEADER: a positive height, rows bottom-up.
  PutLittleEndian(bytes, BITMAP_INFO_HEADER_SIZE, 4);
  PutLittleEndian(bytes, static_cast<uint32_t>(bitmap.width), 4);
  PutLittleEndian(bytes, static_cast<uint32_t>(bitmap.height), 4);
  PutLittleEndian(bytes, 1, 2);
  PutLittleEndian(bytes, bitmap.bitCount, 2);
  PutLittleEndian(bytes, 0, 4);  // uncompressed
  PutLittleEndian(bytes, imageSize, 4);
  PutLittleEndian(bytes, PIXELS_PER_METRE, 4);
  PutLittleEndian(bytes, PIXELS_PER_METRE, 4);
  PutLittleEndian(bytes, PALETTE_ENTRIES, 4);
  PutLittleEndian(bytes, 0, 4);
  // The palette as blue, green, red, reserved.
  for (int i = 0; i < PALETTE_ENTRIES; ++i) {
    const uint32_t colour = bitmap.palette[i];
    bytes.push_back(static_cast<uint8_t>(colour));
    bytes.push_back(static_cast<uint8_t>(colour >> 8));
    bytes.push_back(static_cast<uint8_t>(colour >> 16));
    bytes.push_back(0);
  }
  for (int32_t row = bitmap.height - 1; row >= 0; --row) {
    const BYTE* line = bitmap.bits + static_cast<size_t>(row) * bitmap.width;
    bytes.insert(bytes.end(), line, line + bitmap.width);
    bytes.resize(bytes.size() + (stride - static_cast<uint32_t>(bitmap.width)), 0);
  }
  return bytes;
}

}  // namespace rcgen
