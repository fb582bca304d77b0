// exports.cpp: the registration functions.
#include "module/exports.h"

#include "filter/identity.h"
#include "kestrion/version.h"
#include "module/class_desc.h"

namespace {

const char libraryDescription[256] = KESTRION_PRODUCT_NAME ", " KESTRION_COPYRIGHT_NOTICE;

}  // namespace

const char* LibDescription() { return libraryDescription; }

int32_t LibNumberClasses() { return CLASS_COUNT; }

ClassDesc* LibClassDesc(int32_t index) {
  if (!classTable || index < 0 || index >= CLASS_COUNT) return nullptr;
  return classTable[index].getter();
}

uint32_t LibVersion() { return HOST_INTERFACE_VERSION; }
