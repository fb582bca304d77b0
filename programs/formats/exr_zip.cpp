#include "formats/exr_zip.h"

#include <libdeflate.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace kestrion {

namespace {

void* PlainAllocate(exr_transcoding_pipeline_buffer_id_t, size_t bytes) {
  return std::malloc(bytes);
}

void PlainRelease(exr_transcoding_pipeline_buffer_id_t, void* memory) { std::free(memory); }

// `buffer` of `capacity` bytes grown to hold `bytes`, through the
// pipeline's allocator; false when there is no memory.
template <typename Pipeline>
bool Grow(Pipeline& pipeline, exr_transcoding_pipeline_buffer_id_t id, void*& buffer,
          size_t& capacity, size_t bytes) {
  if (buffer && capacity >= bytes) return true;
  if (buffer) pipeline.free_fn(id, buffer);
  buffer = pipeline.alloc_fn(id, bytes);
  capacity = buffer ? bytes : 0;
  return buffer != nullptr;
}

}  // namespace

bool IsZipCompression(exr_compression_t compression) {
  return compression == EXR_COMPRESSION_ZIP || compression == EXR_COMPRESSION_ZIPS;
}

ZipCodec::~ZipCodec() {
  if (compressor) libdeflate_free_compressor(compressor);
  if (decompressor) libdeflate_free_decompressor(decompressor);
}

bool ZipCodec::Ready(bool compressing) {
  if (compressing && !compressor) compressor = libdeflate_alloc_compressor(ZIP_LEVEL);
  if (!compressing && !decompressor) decompressor = libdeflate_alloc_decompressor();
  return compressing ? compressor != nullptr : decompressor != nullptr;
}

void ZipCodec::Predict(const uint8_t* raw, size_t rawBytes) {
  if (order.size() < rawBytes) order.resize(rawBytes);
  // Each difference straight from the raw bytes, two apart within a half,
  // so that no byte waits for the one before: the first even-indexed byte
  // as it is, the first odd-indexed one against the last even-indexed one.
  const size_t evens = (rawBytes + 1) / 2;
  const size_t odds = rawBytes / 2;
  uint8_t* even = order.data();
  uint8_t* odd = even + evens;
  even[0] = raw[0];
  for (size_t i = 1; i < evens; ++i) {
    even[i] = static_cast<uint8_t>(raw[2 * i] - raw[2 * i - 2] + 128);
  }
  if (odds == 0) return;
  odd[0] = static_cast<uint8_t>(raw[1] - raw[2 * (evens - 1)] + 128);
  for (size_t i = 1; i < odds; ++i) {
    odd[i] = static_cast<uint8_t>(raw[2 * i + 1] - raw[2 * i - 1] + 128);
  }
}

size_t ZipCodec::Compress(const uint8_t* raw, size_t rawBytes, uint8_t* packed) {
  if (rawBytes == 0 || !Ready(true)) return 0;
  Predict(raw, rawBytes);
  // Room for one byte less than the raw chunk: a stream that does not fit
  // is no smaller, and the chunk is stored raw.
  const size_t streamed =
      libdeflate_zlib_compress(compressor, order.data(), rawBytes, packed, rawBytes - 1);
  if (streamed > 0) return streamed;
  std::memcpy(packed, raw, rawBytes);
  return rawBytes;
}

size_t ZipCodec::StreamBytes(const uint8_t* raw, size_t rawBytes) {
  if (rawBytes == 0 || !Ready(true)) return 0;
  Predict(raw, rawBytes);
  std::vector<uint8_t> stream(libdeflate_zlib_compress_bound(compressor, rawBytes));
  return libdeflate_zlib_compress(compressor, order.data(), rawBytes, stream.data(), stream.size());
}

bool ZipCodec::Decompress(const uint8_t* packed, size_t packedBytes, uint8_t* raw,
                          size_t rawBytes) {
  if (packedBytes == rawBytes) {
    if (rawBytes) std::memcpy(raw, packed, rawBytes);
    return true;
  }
  if (!Ready(false)) return false;
  if (order.size() < rawBytes) order.resize(rawBytes);
  size_t produced = 0;
  if (libdeflate_zlib_decompress(decompressor, packed, packedBytes, order.data(), rawBytes,
                                 &produced) != LIBDEFLATE_SUCCESS ||
      produced != rawBytes) {
    return false;
  }
  // The differences summed back and the two halves interleaved in one
  // pass each, the running value kept in a register: the sum runs on from
  // the last even-indexed byte into the first odd-indexed one.
  const size_t evens = (rawBytes + 1) / 2;
  const uint8_t* difference = order.data();
  // The first byte is stored as it is: a difference from 128 minus 128.
  uint8_t value = 128;
  for (size_t i = 0; i < evens; ++i) {
    value = static_cast<uint8_t>(value + difference[i] - 128);
    raw[2 * i] = value;
  }
  for (size_t i = 0; i < rawBytes / 2; ++i) {
    value = static_cast<uint8_t>(value + difference[evens + i] - 128);
    raw[2 * i + 1] = value;
  }
  return true;
}

exr_result_t CompressZipChunk(exr_encode_pipeline_t* encode) {
  auto* codec = static_cast<ZipCodec*>(encode->encoding_user_data);
  const size_t rawBytes = encode->packed_bytes;
  if (!codec || !encode->alloc_fn || !encode->free_fn) return EXR_ERR_INVALID_ARGUMENT;
  if (!Grow(*encode, EXR_TRANSCODE_BUFFER_COMPRESSED, encode->compressed_buffer,
            encode->compressed_alloc_size, rawBytes)) {
    return EXR_ERR_OUT_OF_MEMORY;
  }
  const size_t packed = codec->Compress(static_cast<const uint8_t*>(encode->packed_buffer),
                                        rawBytes, static_cast<uint8_t*>(encode->compressed_buffer));
  if (packed == 0 && rawBytes > 0) return EXR_ERR_OUT_OF_MEMORY;
  encode->compressed_bytes = packed;
  return EXR_ERR_SUCCESS;
}

exr_result_t DecompressZipChunk(exr_decode_pipeline_t* decode) {
  auto* codec = static_cast<ZipCodec*>(decode->decoding_user_data);
  if (!codec || !decode->alloc_fn || !decode->free_fn) return EXR_ERR_INVALID_ARGUMENT;
  const auto packedBytes = static_cast<size_t>(decode->chunk.packed_size);
  const auto rawBytes = static_cast<size_t>(decode->chunk.unpacked_size);
  // The library may have pointed the raw buffer at the packed one for a
  // chunk stored raw; that block is the packed buffer's, not to be freed.
  if (decode->unpacked_buffer == decode->packed_buffer) {
    decode->unpacked_buffer = nullptr;
    decode->unpacked_alloc_size = 0;
  }
  if (!Grow(*decode, EXR_TRANSCODE_BUFFER_UNPACKED, decode->unpacked_buffer,
            decode->unpacked_alloc_size, rawBytes)) {
    return EXR_ERR_OUT_OF_MEMORY;
  }
  if (!decode->packed_buffer && packedBytes > 0) return EXR_ERR_CORRUPT_CHUNK;
  return codec->Decompress(static_cast<const uint8_t*>(decode->packed_buffer), packedBytes,
                           static_cast<uint8_t*>(decode->unpacked_buffer), rawBytes)
             ? EXR_ERR_SUCCESS
             : EXR_ERR_CORRUPT_CHUNK;
}

void UsePlainAllocator(exr_encode_pipeline_t& encode) {
  encode.alloc_fn = PlainAllocate;
  encode.free_fn = PlainRelease;
}

void UsePlainAllocator(exr_decode_pipeline_t& decode) {
  decode.alloc_fn = PlainAllocate;
  decode.free_fn = PlainRelease;
}

}  // namespace kestrion
