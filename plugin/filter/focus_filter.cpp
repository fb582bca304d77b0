// focus_filter.cpp: construction, identity answers and the channel query of
// the depth-of-field filter.
#include "filter/focus_filter.h"

#include <cstring>

#include "filter/identity.h"
#include "host/bitmap.h"

const char FILTER_DESCRIPTION[256] = KESTRION_PRODUCT_NAME;
const char FILTER_AUTHOR[256] = KESTRION_AUTHOR_CREDIT;
const char FILTER_COPYRIGHT[256] = KESTRION_COPYRIGHT_NOTICE;

FilterBase::FilterBase() = default;
FilterBase::~FilterBase() = default;

const char* FilterBase::DescriptionText() { return FILTER_DESCRIPTION; }
const char* FilterBase::AuthorText() { return FILTER_AUTHOR; }
const char* FilterBase::CopyrightText() { return FILTER_COPYRIGHT; }
uint32_t FilterBase::VersionNumber() { return FILTER_VERSION; }
uint32_t FilterBase::CapabilityFlags() { return FILTER_CAPABILITY; }

FocusFilter::FocusFilter() {
  // The whole record is zeroed first, so that a saved record never carries
  // leftover memory behind the empty name.
  std::memset(&config, 0, sizeof(config));
  config.magic = CONFIG_MAGIC;
  config.sourceMode = SOURCE_WHOLE_IMAGE;
  config.objectChannelId = 0;
  config.materialEffectsId = 0;
  config.blurRange = DEFAULT_BLUR_RANGE;
  config.blurSize = DEFAULT_BLUR_SIZE;
}

FocusFilter::~FocusFilter() = default;

uint32_t FocusFilter::ChannelsRequired() {
  switch (config.sourceMode) {
    case SOURCE_MATERIAL_EFFECTS:
      return CHANNEL_Z | CHANNEL_MTL_ID;
    case SOURCE_OBJECT_CHANNEL:
      return CHANNEL_Z | CHANNEL_OBJ_ID;
    default:
      // Whole image, and any mode the filter does not know: it blurs
      // nothing in that mode, but the render pass still needs Z.
      return CHANNEL_Z;
  }
}
