#include "cli/commands.h"
#include "cli/module_path.h"
#include "frame/filter_session.h"

namespace kestrion {

namespace {
const char* Text(const char* text) { return text ? text : "(none)"; }
}  // namespace

void RunInfo(const InfoOptions& options, std::FILE* out) {
  const auto module = LoadFilterModule(ResolveModulePath(options.module));
  ClassDesc* descriptor = module->Descriptor(0);
  const uint32_t version = module->Version();
  const ClassIdentity identity = descriptor->ClassIdentifier();
  const uint32_t family = descriptor->FamilyCode();
  std::fprintf(out, "module:       %s\n", module->Path().c_str());
  std::fprintf(out, "description:  %s\n", Text(module->Description()));
  std::fprintf(out, "version:      0x%08X (%u)\n", version, version);
  std::fprintf(out, "classes:      %d\n", module->ClassCount());
  std::fprintf(out, "class name:   %s\n", Text(descriptor->ClassNameText()));
  std::fprintf(out, "category:     %s\n", Text(descriptor->CategoryText()));
  std::fprintf(out, "family:       0x%08X (%u)\n", family, family);
  std::fprintf(out, "class id:     0x%08X 0x%08X\n", identity.first, identity.second);
}

}  // namespace kestrion
