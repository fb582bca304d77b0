// kestrion_windows_host: loads KESTRION.FLT through the system's loader
// and checks it as the host would see it: its exports and ordinals, its
// compiled resources against the resource table, a render compared bit for
// bit with the Linux build's, and its two dialogs on the real services.
//   kestrion_windows_host MODULE [--reference FRAME] [--screenshots FOLDER]
// Ends with "N passed, M failed"; the exit code is 0 only when all passed.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/windows/reference_frame.h"
#include "tests/windows/windows_checks.h"

namespace kestrion_test {

bool Report::Check(bool ok, const std::string& what, const std::string& detail) {
  std::printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what.c_str(), ok || detail.empty() ? "" : ": ",
              ok ? "" : detail.c_str());
  std::fflush(stdout);
  ++(ok ? passed : failed);
  return ok;
}

}  // namespace kestrion_test

namespace {

using kestrion_test::Report;

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void CheckFrame(const std::string& modulePath, const std::string& referencePath, Report& report) {
  std::string error;
  const std::vector<uint8_t> frame = kestrion_test::RenderReferenceFrame(modulePath, error);
  if (!report.Check(!frame.empty(), "the reference frame renders", error)) return;
  const std::vector<uint8_t> reference = ReadFile(referencePath);
  std::string detail = "the reference has " + std::to_string(reference.size()) + " bytes, " +
                       "the render " + std::to_string(frame.size());
  if (reference.size() == frame.size()) {
    for (size_t i = 0; i < frame.size(); ++i) {
      if (frame[i] == reference[i]) continue;
      detail = "byte " + std::to_string(i) + " (pixel " + std::to_string(i / 8) + ") is " +
               std::to_string(frame[i]) + ", the reference's " + std::to_string(reference[i]);
      break;
    }
  }
  report.Check(frame == reference, "the frame equals the Linux build's bit for bit", detail);
}

}  // namespace

int main(int argc, char** argv) {
  std::string modulePath, referencePath, screenshotFolder;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--reference" && i + 1 < argc) {
      referencePath = argv[++i];
    } else if (arg == "--screenshots" && i + 1 < argc) {
      screenshotFolder = argv[++i];
    } else if (modulePath.empty() && arg.rfind("--", 0) != 0) {
      modulePath = arg;
    } else {
      std::fprintf(stderr,
                   "usage: kestrion_windows_host MODULE [--reference FRAME] "
                   "[--screenshots FOLDER]\n");
      return 2;
    }
  }
  if (modulePath.empty()) {
    std::fprintf(stderr, "kestrion_windows_host: no module file given\n");
    return 2;
  }

  Report report;
  HMODULE module = LoadLibraryA(modulePath.c_str());
  if (report.Check(module != nullptr, "LoadLibraryA loads " + modulePath,
                   "error " + std::to_string(GetLastError()))) {
    kestrion_test::CheckExports(module, report);
    kestrion_test::CheckResources(module, report);
    FreeLibrary(module);
    if (!referencePath.empty()) CheckFrame(modulePath, referencePath, report);
    kestrion_test::CheckDialogs(modulePath, screenshotFolder, report);
  }
  std::printf("%d passed, %d failed\n", report.Passed(), report.Failed());
  return report.Failed() == 0 ? 0 : 1;
}
