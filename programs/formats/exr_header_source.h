// exr_header_source.h: headers of an OpenEXR file as the core library
// reads them, made from the C++ library's headers: the C++ library writes
// them into memory and the core library reads them back from there, so
// that every attribute (of any type) reaches the core writer as the C++
// library sees it.
#pragma once

#include <ImfHeader.h>
#include <ImfIO.h>
#include <openexr.h>

#include <string>
#include <vector>

namespace kestrion {

// The headers as OpenEXR's C++ library writes them, held in memory.
class HeaderBytes : public Imf::OStream {
 public:
  HeaderBytes() : Imf::OStream("headers") {}
  void write(const char c[], int n) override;
  uint64_t tellp() override { return position; }
  void seekp(uint64_t pos) override { position = static_cast<size_t>(pos); }

  std::string bytes;

 private:
  size_t position = 0;
};

// A core context reading the headers back; finished with the object.
// Throws std::runtime_error with the core library's message when it does
// not take them.
class HeaderSource {
 public:
  explicit HeaderSource(const std::vector<Imf::Header>& headers);
  ~HeaderSource();
  HeaderSource(const HeaderSource&) = delete;
  HeaderSource& operator=(const HeaderSource&) = delete;

  exr_const_context_t Get() const { return context; }

 private:
  HeaderBytes stream;
  exr_context_t context = nullptr;
};

}  // namespace kestrion
