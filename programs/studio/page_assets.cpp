// page_assets.cpp: finds the embedded files by path. The table itself is
// generated at build time (embed_page.cmake).
#include "studio/page_assets.h"

namespace studio {

extern const PageAsset PAGE_ASSETS[];
extern const size_t PAGE_ASSET_COUNT;

const PageAsset* FindPageAsset(std::string_view path) {
  if (path == "/") path = "/index.html";
  for (size_t i = 0; i < PAGE_ASSET_COUNT; ++i) {
    if (path == PAGE_ASSETS[i].path) return &PAGE_ASSETS[i];
  }
  return nullptr;
}

}  // namespace studio
