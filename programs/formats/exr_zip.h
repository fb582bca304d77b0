// exr_zip.h: OpenEXR's ZIP and ZIPS chunks coded with libdeflate, for the
// core library's encode and decode pipelines.
//
// A ZIP chunk holds 16 scanlines (ZIPS: 1) of the chunk's bytes as OpenEXR
// lays them out. Coding splits them into the even-indexed bytes and then
// the odd-indexed ones, replaces each byte after the first with its
// difference from the one before plus 128 (mod 256), and deflates the
// result as one zlib stream. A chunk that would not get smaller is stored
// as it is: readers take every chunk whose packed size equals its raw size
// as raw, so a stream exactly as long as the raw bytes is never written.
#pragma once

#include <openexr.h>

#include <cstddef>
#include <cstdint>
#include <vector>

struct libdeflate_compressor;
struct libdeflate_decompressor;

namespace kestrion {

// The deflate level of the chunks kestrion writes: files within a percent
// of OpenEXR's own at its default level, at about a third of its time.
inline constexpr int ZIP_LEVEL = 4;

bool IsZipCompression(exr_compression_t compression);

// One thread's compressor and decompressor and the buffer between the byte
// order and the stream, each made on first use and kept for every later
// chunk of the thread.
class ZipCodec {
 public:
  ZipCodec() = default;
  ~ZipCodec();
  ZipCodec(const ZipCodec&) = delete;
  ZipCodec& operator=(const ZipCodec&) = delete;

  // Codes `rawBytes` bytes of `raw` into `packed`, which has room for
  // rawBytes, and returns the packed size: below rawBytes for a stream,
  // rawBytes for a copy. Returns 0 with rawBytes 0, or when libdeflate has
  // no memory for a compressor (bad_alloc is not thrown through the
  // library's pipeline).
  size_t Compress(const uint8_t* raw, size_t rawBytes, uint8_t* packed);
  // The size of the zlib stream Compress would write for `raw`, whatever
  // its size (a chunk whose stream is not smaller is stored raw).
  size_t StreamBytes(const uint8_t* raw, size_t rawBytes);
  // Decodes a chunk of `packedBytes` into exactly `rawBytes` bytes of
  // `raw`; false when the stream is damaged or does not hold exactly that.
  bool Decompress(const uint8_t* packed, size_t packedBytes, uint8_t* raw, size_t rawBytes);

 private:
  bool Ready(bool compressing);
  // `raw` split and predicted into `order`.
  void Predict(const uint8_t* raw, size_t rawBytes);

  libdeflate_compressor* compressor = nullptr;
  libdeflate_decompressor* decompressor = nullptr;
  std::vector<uint8_t> order;
};

// The pipelines' compress and decompress steps for ZIP and ZIPS parts, with
// the ZipCodec that `encoding_user_data` or `decoding_user_data` points to.
// Their buffers come from the pipeline's alloc_fn and free_fn, which must
// be set (UsePlainAllocator).
exr_result_t CompressZipChunk(exr_encode_pipeline_t* encode);
exr_result_t DecompressZipChunk(exr_decode_pipeline_t* decode);

// Gives the pipeline malloc and free for its buffers, so that the steps
// above can grow them.
void UsePlainAllocator(exr_encode_pipeline_t& encode);
void UsePlainAllocator(exr_decode_pipeline_t& decode);

}  // namespace kestrion
