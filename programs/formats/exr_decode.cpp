#include "formats/exr_decode.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

#include "base/errors.h"
#include "formats/exr_zip.h"

namespace kestrion {

namespace {

// One thread's decoder, set up by its first chunk and destroyed with it.
class Decoder {
 public:
  Decoder(exr_const_context_t file, int part, ZipInflater inflater) : file(file), part(part) {
    exr_compression_t compression{};
    inflating = inflater == ZipInflater::Libdeflate &&
                exr_get_compression(file, part, &compression) == EXR_ERR_SUCCESS &&
                IsZipCompression(compression);
  }
  ~Decoder() {
    if (started) exr_decoding_destroy(file, &pipeline);
  }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // Decodes the chunk `info` describes into the targets at (column, row)
  // of a data window `width` samples wide.
  bool Decode(const exr_chunk_info_t& info, const std::vector<DecodeTarget>& targets, int64_t width,
              int64_t column, int64_t row) {
    const exr_result_t prepared = started ? exr_decoding_update(file, part, &info, &pipeline)
                                          : exr_decoding_initialize(file, part, &info, &pipeline);
    if (prepared != EXR_ERR_SUCCESS) return false;
    started = true;
    if (inflating) {
      UsePlainAllocator(pipeline);
      pipeline.decoding_user_data = &codec;
    }
    for (int16_t c = 0; c < pipeline.channel_count; ++c) {
      exr_coding_channel_info_t& channel = pipeline.channels[c];
      const auto target = std::find_if(
          targets.begin(), targets.end(),
          [&channel](const DecodeTarget& t) { return t.name == channel.channel_name; });
      if (target == targets.end() || target->bytesPerSample != channel.bytes_per_element) {
        return false;
      }
      const auto bytes = static_cast<size_t>(target->bytesPerSample);
      const size_t offset =
          (static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(column)) *
          bytes;
      channel.decode_to_ptr = static_cast<uint8_t*>(target->data) + offset;
      channel.user_pixel_stride = static_cast<int32_t>(bytes);
      channel.user_line_stride = static_cast<int32_t>(static_cast<size_t>(width) * bytes);
      channel.user_bytes_per_element = channel.bytes_per_element;
      channel.user_data_type = channel.data_type;
    }
    if (exr_decoding_choose_default_routines(file, part, &pipeline) != EXR_ERR_SUCCESS) {
      return false;
    }
    if (inflating) pipeline.decompress_fn = DecompressZipChunk;
    return exr_decoding_run(file, part, &pipeline) == EXR_ERR_SUCCESS;
  }

 private:
  exr_const_context_t file;
  int part;
  exr_decode_pipeline_t pipeline{};  // empty, as the library's initializer makes it
  bool started = false;
  bool inflating = false;  // ZIP chunks through `codec`
  ZipCodec codec;
};

}  // namespace

void DecodeExrPart(CoreExrFile& file, int part, const std::vector<DecodeTarget>& targets,
                   unsigned threads, const AbortCheck& abort, ZipInflater inflater) {
  file.AllowChunkBuffers();
  const PartChunks chunks(file, part);
  exr_attr_box2i_t window{};
  exr_get_data_window(file.Get(), part, &window);
  const int64_t width = static_cast<int64_t>(window.max.x) - window.min.x + 1;

  std::atomic<int64_t> next{0};
  // The first chunk (in file order) that failed, so that the message does
  // not depend on which thread met a failure first.
  std::atomic<int64_t> firstFailed{chunks.Count()};
  // The calling thread asks the check before each chunk; the helpers see
  // its answer.
  const auto work = [&](bool asks) {
    Decoder decoder(file.Get(), part, inflater);
    while (true) {
      const int64_t index = next.fetch_add(1);
      if (index >= chunks.Count() || index > firstFailed.load()) return;
      if (asks ? abort.Requested() : abort.Stopped()) return;
      exr_chunk_info_t info{};
      if (chunks.Read(index, info) != EXR_ERR_SUCCESS ||
          !decoder.Decode(info, targets, width, chunks.Column(index), chunks.Row(index))) {
        int64_t failed = firstFailed.load();
        while (index < failed && !firstFailed.compare_exchange_weak(failed, index)) {
        }
      }
    }
  };
  const auto count =
      static_cast<unsigned>(std::clamp<int64_t>(chunks.Count(), 1, std::max<unsigned>(1, threads)));
  std::vector<std::thread> helpers;
  try {
    for (unsigned t = 1; t < count; ++t) helpers.emplace_back(work, false);
  } catch (const std::system_error&) {
    // Fewer helpers: the chunks are shared among those that started.
  }
  work(true);
  for (std::thread& helper : helpers) helper.join();
  abort.ThrowIfRequested();
  if (firstFailed.load() < chunks.Count()) {
    throw FileError(file.Path(), chunks.Damaged(firstFailed.load()));
  }
}

}  // namespace kestrion
