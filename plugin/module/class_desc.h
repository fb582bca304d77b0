// class_desc.h: the module's one class descriptor and its class table.
#pragma once

#include <cstdint>

#include "host/class_desc.h"

// The second word of the filter's class identifier; the first is
// CONFIG_MAGIC.
constexpr uint32_t CLASS_ID_SECOND = 0x737B4BCB;
constexpr const char* FILTER_CATEGORY = "Image Filter";

// Describes FocusFilter to the host. The hooks are operations whose meaning
// the host defines; this descriptor answers them with fixed values and does
// nothing else.
class FocusClassDesc final : public ClassDesc {
 public:
  int32_t DescriptorHookA() override;
  ImageFilter* CreateFilter(int32_t flag) override;
  int32_t DescriptorHookB(int32_t value) override;
  int32_t DescriptorHookC(int32_t value) override;
  const char* ClassNameText() override;
  uint32_t FamilyCode() override;
  ClassIdentity ClassIdentifier() override;
  const char* CategoryText() override;
  int32_t DescriptorHookD(int32_t value) override;
  int32_t DescriptorHookE() override;
  void DescriptorHookF(int32_t value) override;
  void DescriptorHookG(int32_t value) override;
  int32_t DescriptorHookH() override;
  int32_t DescriptorHookI(int32_t value) override;
  int32_t DescriptorHookJ(int32_t value) override;
};

// The one descriptor, alive as long as the module.
ClassDesc* GetFocusClassDesc();

// One row of the class table. Only the getter is used; the name documents
// the row.
struct ClassTableEntry {
  char name[256];
  ClassDesc* (*getter)();
};

constexpr int32_t CLASS_COUNT = 1;
extern const ClassTableEntry* const classTable;
