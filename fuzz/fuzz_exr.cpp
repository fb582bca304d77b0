// fuzz_exr.cpp: an OpenEXR file, from a memory file, through the document
// reader and then the whole render input reader (roles, planes, origin) as
// `kestrion render` reads its input. Bad files must end in one Error
// naming the file; a file read whole must hold every channel's samples.
#include <ImfChannelList.h>
#include <ImfThreading.h>

#include <string>

#include "base/errors.h"
#include "formats/exr_document.h"
#include "frame/render_input.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_targets.h"
#include "fuzz/memory_file.h"

namespace kestrion_fuzz {

namespace {

// A fuzz input is a few KB, so a document it may make kestrion allocate is
// bounded far below the default budget: a tiny header that declares a huge
// image is refused before its pixels are allocated.
constexpr uint64_t BYTE_BUDGET = uint64_t{16} << 20;

// Decoding on the calling thread keeps runs deterministic.
bool DecodeOnThisThread() {
  kestrion::SetExrThreadCount(1);
  Imf::setGlobalThreadCount(0);
  return true;
}

// A static object, so that its link and folder go when the program exits.
MemoryFile& InputFile() {
  static const bool decoding = DecodeOnThisThread();
  static MemoryFile file("input.exr");
  (void)decoding;
  return file;
}

// Every message starts with the file it is about; a listing of the file's
// parts may follow on further lines.
void CheckNamesFile(const kestrion::Error& error, const std::string& path) {
  FUZZ_CHECK(std::string(error.what()).rfind(path + ": ", 0) == 0);
}

}  // namespace

int ExrInput(const uint8_t* data, size_t size) {
  MemoryFile& file = InputFile();
  file.Replace(data, size);
  try {
    const kestrion::ExrDocument document = kestrion::ReadExrDocument(file.Path(), {BYTE_BUDGET});
    FUZZ_CHECK(!document.parts.empty());
    for (const kestrion::ExrPart& part : document.parts) {
      const size_t pixels = static_cast<size_t>(part.Width()) * static_cast<size_t>(part.Height());
      size_t listed = 0;
      for (auto it = part.header.channels().begin(); it != part.header.channels().end(); ++it) {
        ++listed;
      }
      FUZZ_CHECK(part.channels.size() == listed);
      for (const kestrion::ExrChannel& channel : part.channels) {
        FUZZ_CHECK(channel.Size() == pixels);
      }
    }
  } catch (const kestrion::Error& e) {
    CheckNamesFile(e, file.Path());
    return 0;
  }

  // Within the budget: the render input reads the same file again, by a
  // name that says OpenEXR.
  const std::string& named = file.PathWithExtension(".exr");
  try {
    const kestrion::RenderInput input = kestrion::ReadRenderInput(named, {}, {});
    FUZZ_CHECK(input.document.has_value());
    const kestrion::FramePlanes& planes = input.planes;
    const size_t pixels = planes.PixelCount();
    FUZZ_CHECK(pixels > 0);
    FUZZ_CHECK(planes.depth && planes.depth->size() == pixels);
    FUZZ_CHECK(!planes.alpha || planes.alpha->size() == pixels);
    FUZZ_CHECK(planes.colour.size() == planes.colourNames.size());
    for (const kestrion::Plane& colour : planes.colour) FUZZ_CHECK(colour.size() == pixels);
  } catch (const kestrion::Error& e) {
    CheckNamesFile(e, named);
  }
  return 0;
}

}  // namespace kestrion_fuzz

KESTRION_FUZZ_ENTRY(kestrion_fuzz::ExrInput)
