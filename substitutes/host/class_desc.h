// class_desc.h: the class descriptor through which the host learns about a
// filter class and creates its objects. The host calls the 15 operations
// by position, so their declaration order is binding.
#pragma once

#include <cstdint>

class ImageFilter;

// A class identifier: two unsigned 32-bit words, returned by value.
struct ClassIdentity {
  uint32_t first;
  uint32_t second;
  bool operator==(const ClassIdentity&) const = default;
};

// The host's family code for image filters.
constexpr uint32_t IMAGE_FILTER_FAMILY = 0x00000E00;

class ClassDesc {
 public:
  virtual int32_t DescriptorHookA() = 0;                // 1
  virtual ImageFilter* CreateFilter(int32_t flag) = 0;  // 2: null when memory runs out
  virtual int32_t DescriptorHookB(int32_t value) = 0;   // 3
  virtual int32_t DescriptorHookC(int32_t value) = 0;   // 4
  virtual const char* ClassNameText() = 0;              // 5
  virtual uint32_t FamilyCode() = 0;                    // 6
  virtual ClassIdentity ClassIdentifier() = 0;          // 7
  virtual const char* CategoryText() = 0;               // 8
  virtual int32_t DescriptorHookD(int32_t value) = 0;   // 9
  virtual int32_t DescriptorHookE() = 0;                // 10
  virtual void DescriptorHookF(int32_t value) = 0;      // 11
  virtual void DescriptorHookG(int32_t value) = 0;      // 12
  virtual int32_t DescriptorHookH() = 0;                // 13
  virtual int32_t DescriptorHookI(int32_t value) = 0;   // 14
  virtual int32_t DescriptorHookJ(int32_t value) = 0;   // 15

 protected:
  ~ClassDesc() = default;
};

// The registration functions a filter module exports with C linkage.
using LibDescriptionFn = const char* (*)();
using LibNumberClassesFn = int32_t (*)();
using LibClassDescFn = ClassDesc* (*)(int32_t index);
using LibVersionFn = uint32_t (*)();
