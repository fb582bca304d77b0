// test_files.h: a scratch directory per test and small file helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "formats/image.h"
#include "formats/image_files.h"

namespace kestrion::test_files {

class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrion-app-XXXXXX").string();
    if (mkdtemp(pattern.data())) path = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  std::string operator/(const std::string& name) const { return (path / name).string(); }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

 private:
  std::filesystem::path path;
};

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Writes the frame to `path` in the format its name asks for.
inline void Save(const Image& image, const std::string& path) {
  OutputFile output(path);
  WriteImage(image, output);
  output.Commit();
}

// An odd-sized display-encoded frame whose R, G, B and A differ at every
// pixel and from each other, so that flips and channel swaps show.
inline Image DistinctFrame(uint16_t width, uint16_t height) {
  Image image{Bitmap(width, height), {}};
  for (uint16_t y = 0; y < height; ++y) {
    for (uint16_t x = 0; x < width; ++x) {
      const int i = y * width + x;
      image.Storage().Pixels()[i] = {
          static_cast<uint16_t>(1000 + 1009 * i), static_cast<uint16_t>(60000 - 733 * i),
          static_cast<uint16_t>(257 * (x + 3) + 4099 * y), static_cast<uint16_t>(65535 - 97 * i)};
    }
  }
  return image;
}

}  // namespace kestrion::test_files
