// file_names.h: what a file's name says about its format.
#pragma once

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>

namespace kestrion {

// The name's extension with its dot, in lower case (".exr"); empty when it
// has none.
inline std::string LowercaseExtension(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

}  // namespace kestrion
