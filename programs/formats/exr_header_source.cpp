// exr_header_source.cpp: the C++ library's headers read back by the core
// library.
#include "formats/exr_header_source.h"

#include <ImfMultiPartOutputFile.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "formats/exr_core.h"

namespace kestrion {

namespace {

int64_t ReadHeaderBytes(exr_const_context_t, void* user, void* buffer, uint64_t size,
                        uint64_t offset, exr_stream_error_func_ptr_t) {
  const std::string& bytes = *static_cast<const std::string*>(user);
  if (offset >= bytes.size()) return 0;
  const auto count = static_cast<size_t>(std::min<uint64_t>(size, bytes.size() - offset));
  std::memcpy(buffer, bytes.data() + offset, count);
  return static_cast<int64_t>(count);
}

int64_t HeaderBytesSize(exr_const_context_t, void* user) {
  return static_cast<int64_t>(static_cast<const std::string*>(user)->size());
}

}  // namespace

void HeaderBytes::write(const char c[], int n) {
  const auto count = static_cast<size_t>(n);
  if (position + count > bytes.size()) bytes.resize(position + count);
  std::memcpy(bytes.data() + position, c, count);
  position += count;
}

HeaderSource::HeaderSource(const std::vector<Imf::Header>& headers) {
  {
    Imf::MultiPartOutputFile file(stream, headers.data(), static_cast<int>(headers.size()), false,
                                  1);
  }
  exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
  init.user_data = &stream.bytes;
  init.read_fn = ReadHeaderBytes;
  init.size_fn = HeaderBytesSize;
  init.error_handler_fn = RecordCoreError;
  ClearCoreError();
  if (exr_start_read(&context, "headers", &init) != EXR_ERR_SUCCESS) {
    context = nullptr;
    throw std::runtime_error("headers not taken by the core library (" +
                             CoreExrFile::LastMessage() + ")");
  }
}

HeaderSource::~HeaderSource() {
  if (context) exr_finish(&context);
}

}  // namespace kestrion
