// kestrion_reference_frame: renders the reference frame through the Linux
// build's KESTRION.FLT and writes its pixels to FILE, for the Windows
// build's test host to compare with.
//   kestrion_reference_frame FILE [MODULE]
#include <cstdio>
#include <string>

#include "tests/windows/reference_frame.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: kestrion_reference_frame FILE [MODULE]\n");
    return 2;
  }
  std::string error;
  const auto bytes =
      kestrion_test::RenderReferenceFrame(argc == 3 ? argv[2] : KESTRION_MODULE_PATH, error);
  if (bytes.empty()) {
    std::fprintf(stderr, "kestrion_reference_frame: %s\n", error.c_str());
    return 1;
  }
  FILE* out = std::fopen(argv[1], "wb");
  const bool written = out && std::fwrite(bytes.data(), bytes.size(), 1, out) == 1;
  if (!out || std::fclose(out) != 0 || !written) {
    std::fprintf(stderr, "kestrion_reference_frame: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
