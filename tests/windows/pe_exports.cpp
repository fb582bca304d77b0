// pe_exports.cpp: the module's export directory, read from its image in
// memory as the system's loader mapped it.
#include <cstring>
#include <map>
#include <string>

#include "tests/windows/windows_checks.h"

namespace kestrion_test {
namespace {

const std::map<WORD, std::string> EXPECTED = {
    {1, "LibDescription"}, {2, "LibNumberClasses"}, {3, "LibClassDesc"}, {4, "LibVersion"}};

// Ordinal -> name of every export of the image at `base`; unnamed ones
// get an empty name.
std::map<WORD, std::string> Exports(const BYTE* base) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& entry =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  std::map<WORD, std::string> exports;
  if (!entry.VirtualAddress) return exports;
  const auto* directory =
      reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
  const auto* functions = reinterpret_cast<const DWORD*>(base + directory->AddressOfFunctions);
  const auto* names = reinterpret_cast<const DWORD*>(base + directory->AddressOfNames);
  const auto* ordinals = reinterpret_cast<const WORD*>(base + directory->AddressOfNameOrdinals);
  for (DWORD i = 0; i < directory->NumberOfFunctions; ++i) {
    if (functions[i]) exports[static_cast<WORD>(directory->Base + i)] = "";
  }
  for (DWORD i = 0; i < directory->NumberOfNames; ++i) {
    exports[static_cast<WORD>(directory->Base + ordinals[i])] =
        reinterpret_cast<const char*>(base + names[i]);
  }
  return exports;
}

std::string Describe(const std::map<WORD, std::string>& exports) {
  std::string text;
  for (const auto& [ordinal, name] : exports) {
    text += (text.empty() ? "" : ", ") + std::to_string(ordinal) + " " + name;
  }
  return text.empty() ? "none" : text;
}

}  // namespace

void CheckExports(HMODULE module, Report& report) {
  const auto exports = Exports(reinterpret_cast<const BYTE*>(module));
  report.Check(exports == EXPECTED, "exports exactly the four registration functions, ordinals 1-4",
               "found " + Describe(exports));
  for (const auto& [ordinal, name] : EXPECTED) {
    const FARPROC byName = GetProcAddress(module, name.c_str());
    const FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
    report.Check(byName && byName == byOrdinal,
                 "ordinal " + std::to_string(ordinal) + " is " + name);
  }
}

}  // namespace kestrion_test
