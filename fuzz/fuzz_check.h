// fuzz_check.h: how the fuzz targets report a broken promise. A check that
// fails prints what was expected and aborts, which libFuzzer records as a
// crash with the input that caused it (and a replaying test fails on).
#pragma once

#include <cstdio>
#include <cstdlib>

namespace kestrion_fuzz {

[[noreturn]] inline void CheckFailed(const char* file, int line, const char* condition) {
  std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, condition);
  std::abort();
}

}  // namespace kestrion_fuzz

#define FUZZ_CHECK(condition)         \
  ((condition) ? static_cast<void>(0) \
               : ::kestrion_fuzz::CheckFailed(__FILE__, __LINE__, #condition))
