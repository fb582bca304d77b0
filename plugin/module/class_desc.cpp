// class_desc.cpp: the descriptor through which the host creates filters, and
// the class table that LibClassDesc reads.
#include "module/class_desc.h"

#include <new>

#include "filter/focus_filter.h"
#include "filter/identity.h"

namespace {

FocusClassDesc focusClassDesc;

const ClassTableEntry classRows[CLASS_COUNT] = {
    {KESTRION_PRODUCT_NAME, &GetFocusClassDesc},
};

}  // namespace

const ClassTableEntry* const classTable = classRows;

ClassDesc* GetFocusClassDesc() { return &focusClassDesc; }

int32_t FocusClassDesc::DescriptorHookA() { return 1; }

// Null when memory runs out. Should the host base's constructor throw, the
// new-expression frees the memory and the exception passes on to the host,
// whose constructor it was.
ImageFilter* FocusClassDesc::CreateFilter(int32_t) { return new (std::nothrow) FocusFilter(); }

int32_t FocusClassDesc::DescriptorHookB(int32_t) { return 0; }
int32_t FocusClassDesc::DescriptorHookC(int32_t) { return 0; }
const char* FocusClassDesc::ClassNameText() { return FILTER_DESCRIPTION; }
uint32_t FocusClassDesc::FamilyCode() { return IMAGE_FILTER_FAMILY; }
ClassIdentity FocusClassDesc::ClassIdentifier() { return {CONFIG_MAGIC, CLASS_ID_SECOND}; }
const char* FocusClassDesc::CategoryText() { return FILTER_CATEGORY; }
int32_t FocusClassDesc::DescriptorHookD(int32_t) { return 1; }
int32_t FocusClassDesc::DescriptorHookE() { return 0; }
void FocusClassDesc::DescriptorHookF(int32_t) {}
void FocusClassDesc::DescriptorHookG(int32_t) {}
int32_t FocusClassDesc::DescriptorHookH() { return 0; }
int32_t FocusClassDesc::DescriptorHookI(int32_t) { return 0; }
int32_t FocusClassDesc::DescriptorHookJ(int32_t) { return 0; }
