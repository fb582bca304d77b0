// focus_config.cpp: the three operations through which the host sizes,
// saves and loads the filter's configuration record.
#include <cstring>

#include "filter/focus_filter.h"

uint32_t FocusFilter::EvaluateConfigure() { return sizeof(FocusConfig); }

int32_t FocusFilter::SaveConfigure(void* buffer) {
  if (!buffer) return 0;
  std::memcpy(buffer, &config, sizeof(config));
  return 1;
}

// The host hands back a block it obtained from SaveConfigure, so it holds at
// least the record's size; only the first word is checked.
int32_t FocusFilter::LoadConfigure(void* buffer) {
  if (!buffer) return 0;
  uint32_t magic = 0;
  std::memcpy(&magic, buffer, sizeof(magic));
  if (magic != config.magic) return 0;
  std::memcpy(&config, buffer, sizeof(config));
  return 1;
}
