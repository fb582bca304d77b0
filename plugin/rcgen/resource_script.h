// resource_script.h: a module's resource table (platform/resources.h)
// written out as a Windows resource script and bitmap files, for the
// resource compiler of the Windows build.
//
// Each dialog becomes a DIALOGEX statement with the template's style,
// extended style, position, caption and font, and one CONTROL statement per
// item in template order, with the item's full style, extended style,
// window class, identifier and text; a bitmap static names its bitmap
// resource by number instead of a text. Each bitmap becomes a BITMAP
// statement naming a device-independent bitmap file: 8 bits per pixel, the
// 256-entry palette, rows bottom-up as the file format wants them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/resources.h"

namespace rcgen {

// The file name under which bitmap `id` is written: "bitmap<id>.bmp".
std::string BitmapFileName(WORD id);

// The resource script of `table`; bitmaps are named as files in `folder`.
std::string ResourceScript(const ResourceTable& table, const std::string& folder);

// The bytes of the .bmp file of `bitmap`.
std::vector<uint8_t> BitmapFile(const BitmapResource& bitmap);

}  // namespace rcgen
