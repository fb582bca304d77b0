// cryptomatte.h: the Cryptomatte ID mattes an OpenEXR file may carry, by
// which a render finds an object's pixels from the object's name.
//
// A matte is described in the header of the part that holds it:
//   cryptomatte/<key>/name        its channels' prefix ("ViewLayer.CryptoObject")
//   cryptomatte/<key>/hash        "MurmurHash3_32"
//   cryptomatte/<key>/conversion  "uint32_to_float32"
//   cryptomatte/<key>/manifest    JSON {"Monkey": "3f800a1c", ...}: each name's
//                                 32-bit hash in hexadecimal
//   cryptomatte/<key>/manif_file  instead of the manifest: a file of the same
//                                 JSON beside the image
// and held in FLOAT channels <name>00.R, .G, .B, .A, <name>01.R, ...: rank
// after rank an ID and its coverage of the pixel (R and G, then B and A),
// ranks in falling coverage. An ID is the name's hash read as the bits of
// a float, with the exponent moved off 0 and 255 (bit 23 flipped) so that
// every ID is a normal number; a manifest may list the hash before or after
// that step.
//
// An object's pixels, found by name, are the pixels where the object's ID
// has the highest coverage of all ranks: the object covers more of the
// pixel than anything else. Their depth is the depth pass's, which holds
// one sample a pixel; an edge pixel whose depth sample missed the object
// (the sky behind it) counts as background, not as the object.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/abort_check.h"
#include "formats/exr_document.h"
#include "frame/channel_roles.h"

namespace kestrion {

struct CryptoMatte {
  int part = 0;
  std::string name;  // the channels' prefix, "ViewLayer.CryptoObject"
  // Every name the manifest lists, and its ID as the pixels hold it (the
  // float's bits).
  std::map<std::string, uint32_t> manifest;
  // The ID and coverage channels of each rank, highest coverage first.
  std::vector<std::pair<std::string, std::string>> ranks;
};

// The ID of a name's 32-bit hash as the pixels hold it.
uint32_t CryptoIdOfHash(uint32_t hash);

// Every matte the document's headers describe with a hash and conversion
// kestrion reads and with channels present. Throws a FileError naming the
// file for a manifest that is not names and hexadecimal IDs, a manifest
// file that cannot be read, or ID channels that are not FLOAT.
std::vector<CryptoMatte> FindCryptoMattes(const ExrDocument& document);

// Whether a matte holds objects (its name ends like "CryptoObject" or
// "crypto_object") rather than materials or assets.
bool ObjectMatte(const CryptoMatte& matte);

// The object matte that lists `objectName`: of the colour's view layer
// first, else of any other (with a warning in `warnings`). Null when no
// matte lists the name (an object out of the frame may be left out of the
// manifest); `unlisted` then says so, listing some names that are there.
// Throws a FileError naming the file when there is no object matte, or
// several list the name.
const CryptoMatte* MatteListing(const std::vector<CryptoMatte>& mattes, const ExrDocument& document,
                                const ChannelRoles& roles, const std::string& objectName,
                                const SettingLabels& labels, std::vector<std::string>& warnings,
                                std::string& unlisted);

// The ID with the highest coverage at every pixel of the colour part's data
// window, row-major (0 where no rank covers a pixel, or the matte's part
// does not hold it).
std::vector<uint32_t> TopRankedIds(const ExrDocument& document, const ChannelRoles& roles,
                                   const CryptoMatte& matte,
                                   const AbortCheck& abort = NeverAbort());

}  // namespace kestrion
