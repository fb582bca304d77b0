// fuzz_targets.h: the fuzz targets' bodies, one per input kind. Each fuzz
// executable calls one from LLVMFuzzerTestOneInput; the replay tests
// (tests/fuzz/) call them on the checked-in seeds and the inputs that once
// found faults, in ordinary builds too. Each takes any bytes, returns 0, and
// aborts with a message when a promise of the code under test is broken.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrion_fuzz {

// The 284-byte configuration record and a small frame through the filter.
int FilterRecordInput(const uint8_t* data, size_t size);
// A shot's settings file, and the same text as command-line keys.
int SettingsInput(const uint8_t* data, size_t size);
// An OpenEXR file through the document reader and the render input reader.
int ExrInput(const uint8_t* data, size_t size);

}  // namespace kestrion_fuzz

// The libFuzzer entry point of one fuzz executable, calling `body`; left out
// where the replay tests compile the bodies.
#ifdef KESTRION_FUZZ_NO_ENTRY
#define KESTRION_FUZZ_ENTRY(body)
#else
#define KESTRION_FUZZ_ENTRY(body)                                           \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { \
    return body(data, size);                                                \
  }
#endif
