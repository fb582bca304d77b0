// dialog_resources.cpp: the module's compiled dialogs (extended dialog
// templates) and bitmap, read back through FindResource and LoadResource
// and compared with the resource table they were written from.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "tests/windows/windows_checks.h"
#include "ui/resources.h"

namespace kestrion_test {
namespace {

// "#<number>", as a template names a resource or class by number. (Built
// by appending: GCC 12 warns wrongly about "#" + std::to_string.)
std::string Numbered(WORD number) {
  std::string text = "#";
  text += std::to_string(number);
  return text;
}

// Reads an extended dialog template as the system's dialog manager does.
class TemplateReader {
 public:
  explicit TemplateReader(const BYTE* data) : at(data), start(data) {}
  WORD Word() { return Take<WORD>(); }
  DWORD Dword() { return Take<DWORD>(); }
  int16_t Short() { return static_cast<int16_t>(Take<WORD>()); }
  BYTE Byte() { return Take<BYTE>(); }
  // A string or, after 0xFFFF, a number: "#<number>".
  std::string StringOrNumber() {
    const WORD first = Word();
    if (first == 0xFFFF) return Numbered(Word());
    std::string text;
    for (WORD c = first; c != 0; c = Word()) text += c < 0x80 ? static_cast<char>(c) : '?';
    return text;
  }
  void AlignToDword() {
    while ((at - start) % 4) ++at;
  }

 private:
  template <class T>
  T Take() {
    T value;
    std::memcpy(&value, at, sizeof value);
    at += sizeof value;
    return value;
  }
  const BYTE* at;
  const BYTE* start;
};

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The predefined window classes by the numbers templates carry them as.
std::string ClassName(const std::string& compiled) {
  if (compiled == "#128") return "BUTTON";
  if (compiled == "#129") return "EDIT";
  if (compiled == "#130") return "STATIC";
  return Upper(compiled);
}

const BYTE* LoadModuleResource(HMODULE module, WORD id, LPCSTR type, DWORD* size) {
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
  if (!found) return nullptr;
  HGLOBAL loaded = LoadResource(module, found);
  *size = SizeofResource(module, found);
  return loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
}

// The differences between compiled dialog `id` and its template, one per
// line; empty when they agree.
std::string CompareDialog(HMODULE module, WORD id, const DialogTemplate& expected) {
  DWORD size = 0;
  const BYTE* data = LoadModuleResource(module, id, MAKEINTRESOURCEA(5), &size);
  if (!data) return "no RT_DIALOG resource";
  std::string differences;
  auto expect = [&](bool same, const std::string& what) {
    if (!same) differences += (differences.empty() ? "" : "; ") + what;
  };
  TemplateReader r(data);
  const WORD version = r.Word();
  const WORD signature = r.Word();
  if (version != 1 || signature != 0xFFFF) return "not an extended dialog template";
  r.Dword();  // help id
  expect(r.Dword() == expected.exStyle, "dialog extended style");
  const DWORD style = r.Dword();
  expect(style == expected.style, "dialog style " + std::to_string(style));
  const WORD count = r.Word();
  expect(count == expected.itemCount, "item count " + std::to_string(count));
  const int16_t x = r.Short(), y = r.Short(), cx = r.Short(), cy = r.Short();
  expect(x == expected.x && y == expected.y && cx == expected.cx && cy == expected.cy,
         "dialog position or size");
  expect(r.StringOrNumber().empty(), "a menu");
  expect(r.StringOrNumber().empty(), "a dialog class");
  expect(r.StringOrNumber() == expected.caption, "caption");
  if (style & DS_SETFONT) {
    expect(r.Word() == expected.pointSize, "font size");
    r.Word();  // weight
    r.Byte();  // italic
    r.Byte();  // character set
    expect(r.StringOrNumber() == expected.typeface, "typeface");
  }
  for (WORD i = 0; i < count && i < expected.itemCount; ++i) {
    const DialogItemTemplate& item = expected.items[i];
    const std::string at = "item " + std::to_string(i) + " ";
    r.AlignToDword();
    r.Dword();  // help id
    expect(r.Dword() == item.exStyle, at + "extended style");
    expect(r.Dword() == item.style, at + "style");
    const int16_t ix = r.Short(), iy = r.Short(), icx = r.Short(), icy = r.Short();
    expect(ix == item.x && iy == item.y && icx == item.cx && icy == item.cy,
           at + "position or size");
    expect(r.Dword() == item.id, at + "identifier");
    expect(ClassName(r.StringOrNumber()) == Upper(item.windowClass), at + "class");
    const std::string text = r.StringOrNumber();
    const bool bitmap = (item.style & SS_TYPEMASK) == SS_BITMAP && item.imageId;
    expect(text == (bitmap ? Numbered(item.imageId) : std::string(item.text)),
           at + "text \"" + text + "\"");
    const WORD extra = r.Word();
    for (WORD b = 0; b < extra; ++b) r.Byte();
  }
  return differences;
}

std::string CompareBitmap(HMODULE module, WORD id, const BitmapResource& expected) {
  DWORD size = 0;
  const BYTE* data = LoadModuleResource(module, id, MAKEINTRESOURCEA(2), &size);
  if (!data) return "no RT_BITMAP resource";
  BITMAPINFOHEADER header;
  std::memcpy(&header, data, sizeof header);
  if (header.biSize != sizeof header || header.biWidth != expected.width ||
      header.biHeight != expected.height || header.biBitCount != 8 || header.biCompression != 0) {
    return "header: " + std::to_string(header.biWidth) + " x " + std::to_string(header.biHeight) +
           ", " + std::to_string(header.biBitCount) + " bits";
  }
  const DWORD colours = header.biClrUsed ? header.biClrUsed : 256;
  const size_t stride = (static_cast<size_t>(expected.width) + 3) & ~size_t{3};
  const size_t bitsAt = sizeof header + 4 * colours;
  if (colours != 256 || size < bitsAt + stride * static_cast<size_t>(expected.height)) {
    return "palette of " + std::to_string(colours) + " or too small";
  }
  for (DWORD i = 0; i < colours; ++i) {
    const BYTE* quad = data + sizeof header + 4 * i;
    const uint32_t rgb = static_cast<uint32_t>(quad[2]) << 16 | quad[1] << 8 | quad[0];
    if (rgb != expected.palette[i]) return "palette entry " + std::to_string(i);
  }
  for (int32_t row = 0; row < expected.height; ++row) {
    // Stored bottom-up.
    const BYTE* line = data + bitsAt + stride * static_cast<size_t>(expected.height - 1 - row);
    for (int32_t x = 0; x < expected.width; ++x) {
      if (line[x] != expected.bits[static_cast<size_t>(row) * expected.width + x]) {
        return "pixel " + std::to_string(x) + ", " + std::to_string(row);
      }
    }
  }
  return "";
}

}  // namespace

void CheckResources(HMODULE module, Report& report) {
  const ResourceTable& table = moduleResourceTable;
  for (uint32_t i = 0; i < table.count; ++i) {
    const ResourceEntry& entry = table.entries[i];
    const std::string name = std::to_string(entry.id);
    if (entry.type == RT_DIALOG_TYPE) {
      const std::string differences =
          CompareDialog(module, entry.id, *static_cast<const DialogTemplate*>(entry.data));
      report.Check(differences.empty(), "dialog " + name + " as in the resource table",
                   differences);
    } else if (entry.type == RT_BITMAP_TYPE) {
      const std::string difference =
          CompareBitmap(module, entry.id, *static_cast<const BitmapResource*>(entry.data));
      report.Check(difference.empty(), "bitmap " + name + " as in the resource table", difference);
    }
  }
}

}  // namespace kestrion_test
