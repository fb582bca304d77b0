// whole_file.h: whether a file kestrion wrote earlier is complete, for a
// restart that keeps what is done. A file cut short by a crash before it
// reached the disk, or by a copy that stopped, may carry a final name; it
// is told apart from a whole one by its structure, without decoding its
// pixels:
//   - OpenEXR: readable headers and offset tables, and every chunk the
//     data window needs inside the file (exr_preflight.h);
//   - PNG: the signature and a chain of chunks, each inside the file,
//     through IEND;
//   - TIFF: readable directories, each with its values inside the file,
//     and every strip (or tile) of each inside the file.
#pragma once

#include <string>

namespace kestrion {

// Why the file at `path` is not a whole file of the format its name's
// extension names (.exr, .png, .tif, .tiff, any case), as a phrase; empty
// when it is whole, or when its name names no format kestrion writes.
std::string WhyNotWhole(const std::string& path);

}  // namespace kestrion
