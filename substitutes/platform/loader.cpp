// loader.cpp: modules opened from files (LoadLibraryA / FreeLibrary) and
// modules linked into the program (RegisterStaticModule), both reached
// through an instance handle that carries the module's resources.
//
// As on Windows, loading a file that is already loaded returns the same
// handle and counts one more reference; the module is attached on the
// first load and detached when the last reference is freed.
#include <dlfcn.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/resources.h"

struct ModuleRecord {
  void* library = nullptr;  // the dl handle; null for a module linked statically
  const ResourceTable* resources = nullptr;
  DllMainFn dllMain = nullptr;
  int references = 1;
};

namespace {

constexpr const char* DLLMAIN_SYMBOL = "DllMain";
constexpr const char* RESOURCES_SYMBOL = "ModuleResources";

std::vector<std::unique_ptr<ModuleRecord>>& Records() {
  static std::vector<std::unique_ptr<ModuleRecord>> records;
  return records;
}

std::string& LastError() {
  static std::string error;
  return error;
}

HINSTANCE Find(const void* handle) {
  for (const auto& record : Records()) {
    if (record.get() == handle) return record.get();
  }
  return nullptr;
}

HINSTANCE FindLibrary(void* library) {
  for (const auto& record : Records()) {
    if (record->library == library) return record.get();
  }
  return nullptr;
}

void Forget(HINSTANCE instance) {
  auto& records = Records();
  records.erase(std::remove_if(records.begin(), records.end(),
                               [instance](const auto& record) { return record.get() == instance; }),
                records.end());
}

void* Symbol(void* library, const char* name) { return library ? dlsym(library, name) : nullptr; }

std::string DlError(const char* fallback) {
  const char* error = dlerror();
  return error ? error : fallback;
}

}  // namespace

namespace platform {

const void* FindModuleResource(HINSTANCE instance, WORD type, WORD id) {
  HINSTANCE record = Find(instance);
  if (!record || !record->resources || !record->resources->entries) return nullptr;
  const ResourceTable& table = *record->resources;
  for (uint32_t i = 0; i < table.count; ++i) {
    if (table.entries[i].type == type && table.entries[i].id == id) return table.entries[i].data;
  }
  return nullptr;
}

HINSTANCE RegisterStaticModule(const ResourceTable* resources) {
  auto record = std::make_unique<ModuleRecord>();
  record->resources = resources;
  Records().push_back(std::move(record));
  return Records().back().get();
}

void ReleaseStaticModule(HINSTANCE instance) {
  HINSTANCE record = Find(instance);
  if (record && !record->library) Forget(record);
}

const char* LoaderError() { return LastError().c_str(); }

}  // namespace platform

HMODULE LoadLibraryA(LPCSTR path) {
  if (!path || !*path) {
    LastError() = "no module file name given";
    return nullptr;
  }
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    LastError() = DlError("cannot open the module file");
    return nullptr;
  }
  if (HINSTANCE loaded = FindLibrary(library)) {
    ++loaded->references;
    return loaded;
  }
  auto record = std::make_unique<ModuleRecord>();
  record->library = library;
  if (auto resources = reinterpret_cast<ModuleResourcesFn>(Symbol(library, RESOURCES_SYMBOL))) {
    record->resources = resources();
  }
  record->dllMain = reinterpret_cast<DllMainFn>(Symbol(library, DLLMAIN_SYMBOL));
  HINSTANCE instance = record.get();
  Records().push_back(std::move(record));
  if (instance->dllMain && !instance->dllMain(instance, DLL_PROCESS_ATTACH, nullptr)) {
    // A module that refused to attach is unloaded without a detach call:
    // it never became attached.
    Forget(instance);
    dlclose(library);
    LastError() = std::string(path) + ": the module refused to attach";
    return nullptr;
  }
  return instance;
}

BOOL FreeLibrary(HMODULE module) {
  HINSTANCE record = Find(module);
  if (!record || !record->library) return FALSE;
  void* library = record->library;
  if (--record->references == 0) {
    if (record->dllMain) record->dllMain(record, DLL_PROCESS_DETACH, nullptr);
    Forget(record);
  }
  return dlclose(library) == 0 ? TRUE : FALSE;
}

void* GetProcAddress(HMODULE module, LPCSTR name) {
  HINSTANCE record = Find(module);
  if (!record || !name) return nullptr;
  return Symbol(record->library, name);
}
