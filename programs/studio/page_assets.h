// page_assets.h: the page's files (studio/page/), embedded into the
// program when it is built, so that the server serves them without
// reading any file and the program runs wherever it is copied.
#pragma once

#include <cstddef>
#include <string_view>

namespace studio {

struct PageAsset {
  const char* path;  // as requested: "/index.html", "/studio.js", ...
  const char* contentType;
  const unsigned char* data;
  size_t size;
};

// The file the page asks for by `path` ("/" is "/index.html"); null when
// the page has no such file.
const PageAsset* FindPageAsset(std::string_view path);

}  // namespace studio
