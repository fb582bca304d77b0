// kestrion_rcgen: writes the module's resource table as KESTRION.rc and
// its bitmaps as .bmp files into one folder, for the Windows build.
//   kestrion_rcgen FOLDER
#include <cstdio>
#include <fstream>
#include <string>

#include "rcgen/resource_script.h"
#include "ui/resources.h"

namespace {

bool Write(const std::string& path, const void* data, size_t size) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  file.close();
  if (file) return true;
  std::fprintf(stderr, "kestrion_rcgen: cannot write %s\n", path.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kestrion_rcgen FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  const ResourceTable& table = moduleResourceTable;
  for (uint32_t i = 0; i < table.count; ++i) {
    const ResourceEntry& entry = table.entries[i];
    if (entry.type != RT_BITMAP_TYPE) continue;
    const auto bytes = rcgen::BitmapFile(*static_cast<const BitmapResource*>(entry.data));
    if (!Write(folder + "/" + rcgen::BitmapFileName(entry.id), bytes.data(), bytes.size())) {
      return 1;
    }
  }
  const std::string script = rcgen::ResourceScript(table, folder);
  return Write(folder + "/KESTRION.rc", script.data(), script.size()) ? 0 : 1;
}
