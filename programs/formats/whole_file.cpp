#include "formats/whole_file.h"

#include <sys/stat.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "base/errors.h"
#include "base/memory_budget.h"
#include "formats/exr_preflight.h"

namespace kestrion {

namespace {

constexpr std::array<unsigned char, 8> PNG_SIGNATURE = {0x89, 'P',  'N',  'G',
                                                        '\r', '\n', 0x1A, '\n'};
// A chunk's length field, its type and its CRC around its data.
constexpr uint64_t PNG_CHUNK_FRAME = 12;
// PNG limits a chunk's length to 2^31 - 1.
constexpr uint64_t PNG_LONGEST_CHUNK = 0x7FFFFFFF;

std::string Extension(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string PngProblem(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  struct stat info {};
  if (!file || fstat(fileno(file.get()), &info) != 0) return "cannot be read";
  const uint64_t size = static_cast<uint64_t>(info.st_size);
  std::array<unsigned char, 8> bytes{};
  if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() ||
      bytes != PNG_SIGNATURE) {
    return "is no PNG file (its signature is missing)";
  }
  // From chunk to chunk by their lengths, without reading their data.
  for (uint64_t at = PNG_SIGNATURE.size();;) {
    if (at + PNG_CHUNK_FRAME > size) return "ends before its IEND chunk";
    if (std::fseek(file.get(), static_cast<long>(at), SEEK_SET) != 0 ||
        std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
      return "cannot be read";
    }
    const uint64_t length = uint64_t{bytes[0]} << 24 | uint64_t{bytes[1]} << 16 |
                            uint64_t{bytes[2]} << 8 | uint64_t{bytes[3]};
    if (length > PNG_LONGEST_CHUNK) return "holds a damaged chunk";
    if (at + PNG_CHUNK_FRAME + length > size) return "ends inside a chunk";
    if (std::equal(bytes.begin() + 4, bytes.end(), "IEND")) return "";
    at += PNG_CHUNK_FRAME + length;
  }
}

// The size of a TIFF field type's value, 0 for a type this check does not
// know (its entry's data is then not checked).
uint64_t TiffTypeSize(uint32_t type) {
  static constexpr std::array<uint8_t, 19> SIZES = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4,
                                                    8, 4, 8, 4, 0, 0, 8, 8, 8};
  return type < SIZES.size() ? SIZES[type] : 0;
}

// Walks a classic TIFF's directories as they lie in the file: each one, and
// every value it keeps outside itself, must lie inside the file. libtiff
// reads some of these lazily and forgives a cut one; a BigTIFF is left to
// libtiff alone.
std::string TiffDirectoryProblem(std::FILE* file, uint64_t size) {
  std::array<unsigned char, 12> bytes{};
  if (std::fread(bytes.data(), 1, 8, file) != 8) return "is no readable TIFF file";
  const bool little = bytes[0] == 'I';
  const auto number = [&](size_t at, size_t count) {
    uint64_t value = 0;
    for (size_t i = 0; i < count; ++i) {
      value = value << 8 | bytes[at + (little ? count - 1 - i : i)];
    }
    return value;
  };
  if (number(2, 2) != 42) return "";
  constexpr int MOST_DIRECTORIES = 1024;
  uint64_t directory = number(4, 4);
  for (int seen = 0; directory != 0 && seen < MOST_DIRECTORIES; ++seen) {
    if (directory + 2 > size || std::fseek(file, static_cast<long>(directory), SEEK_SET) != 0 ||
        std::fread(bytes.data(), 1, 2, file) != 2) {
      return "ends before one of its directories";
    }
    const uint64_t entries = number(0, 2);
    if (directory + 2 + 12 * entries + 4 > size) return "ends inside one of its directories";
    for (uint64_t entry = 0; entry < entries; ++entry) {
      if (std::fread(bytes.data(), 1, 12, file) != 12) return "cannot be read";
      const uint64_t length = TiffTypeSize(static_cast<uint32_t>(number(2, 2))) * number(4, 4);
      if (length > 4 && (number(8, 4) > size || length > size - number(8, 4))) {
        return "ends before the values of one of its directories";
      }
    }
    if (std::fread(bytes.data(), 1, 4, file) != 4) return "cannot be read";
    directory = number(0, 4);
  }
  return "";
}

extern "C" void IgnoreTiffMessage(const char*, const char*, va_list) {}

struct TiffCloser {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

std::string TiffProblem(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  struct stat info {};
  if (!file || fstat(fileno(file.get()), &info) != 0) return "cannot be read";
  const uint64_t size = static_cast<uint64_t>(info.st_size);
  if (std::string problem = TiffDirectoryProblem(file.get(), size); !problem.empty()) {
    return problem;
  }
  // libtiff's messages are its own business here: the verdict is the answer.
  TIFFSetErrorHandler(&IgnoreTiffMessage);
  TIFFSetWarningHandler(&IgnoreTiffMessage);
  const std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpen(path.c_str(), "r"));
  if (!tiff) return "is no readable TIFF file";
  do {
    const uint32_t strips = TIFFNumberOfStrips(tiff.get());
    if (strips == 0) return "holds an image without strips";
    for (uint32_t strip = 0; strip < strips; ++strip) {
      int error = 0;
      const uint64_t offset = TIFFGetStrileOffsetWithErr(tiff.get(), strip, &error);
      const uint64_t bytes = TIFFGetStrileByteCountWithErr(tiff.get(), strip, &error);
      if (error != 0 || bytes == 0 || offset > size || bytes > size - offset) {
        return "ends before strip " + std::to_string(strip) + " of its image";
      }
    }
  } while (TIFFReadDirectory(tiff.get()));
  return "";
}

}  // namespace

std::string WhyNotWhole(const std::string& path) {
  const std::string extension = Extension(path);
  if (extension == ".png") return PngProblem(path);
  if (extension == ".tif" || extension == ".tiff") return TiffProblem(path);
  if (extension != ".exr") return "";
  try {
    PreflightExr(path, ResourceLimits{});
    return "";
  } catch (const Error& e) {
    // The reason, without the file's name the message starts with.
    const std::string message = e.what();
    const std::string named = ShownName(path) + ": ";
    return message.rfind(named, 0) == 0 ? message.substr(named.size()) : message;
  } catch (const std::bad_alloc&) {
    return "cannot be read (not enough memory to read its headers)";
  }
}

}  // namespace kestrion
