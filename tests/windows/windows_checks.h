// windows_checks.h: the checks that kestrion_windows_host runs against
// KESTRION.FLT loaded by the system's loader, on the system's (or Wine's)
// own user-interface services.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace kestrion_test {

// Collects the outcome of each check and prints one line for it.
class Report {
 public:
  // Records a check; `detail` says what was found when it failed.
  bool Check(bool passed, const std::string& what, const std::string& detail = "");
  int Passed() const { return passed; }
  int Failed() const { return failed; }

 private:
  int passed = 0;
  int failed = 0;
};

// The module exports exactly LibDescription, LibNumberClasses,
// LibClassDesc and LibVersion, with ordinals 1 to 4, and each ordinal
// reaches the function of its name.
void CheckExports(HMODULE module, Report& report);

// Dialogs 101 and 102 and bitmap 104 in the module's compiled resources
// are those of the resource table, field by field.
void CheckResources(HMODULE module, Report& report);

// The control dialog and the about box, opened through a filter of the
// module and worked by messages as a user would; screenshots of both are
// written into `screenshotFolder` as .bmp files when it is not empty.
void CheckDialogs(const std::string& modulePath, const std::string& screenshotFolder,
                  Report& report);

}  // namespace kestrion_test
