#include "base/errors.h"

#include <cstdio>

namespace kestrion {

namespace {

bool Continuation(unsigned char byte) { return (byte & 0xc0) == 0x80; }

// The bytes of the character that starts at `text[i]` when they form one
// well-formed UTF-8 character, else 0.
size_t Utf8Length(std::string_view text, size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  const size_t length = lead >= 0xc2 && lead <= 0xdf   ? 2
                        : lead >= 0xe0 && lead <= 0xef ? 3
                        : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                       : 0;
  if (length == 0 || i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if (!Continuation(static_cast<unsigned char>(text[i + k]))) return 0;
  }
  return length;
}

// Whether the two bytes at text[i] are a C1 control character (U+0080 to
// U+009F), which some terminals take as the start of a control sequence.
bool C1Control(std::string_view text, size_t i) {
  return static_cast<unsigned char>(text[i]) == 0xc2 &&
         static_cast<unsigned char>(text[i + 1]) < 0xa0;
}

// The character at text[i] as printed, and how many bytes it took:
// printable ASCII and well-formed UTF-8 as they are, a control character
// as its C escape, any other byte (and each byte of a C1 control
// character) as \xNN.
std::pair<std::string, size_t> Shown(std::string_view text, size_t i) {
  const auto byte = static_cast<unsigned char>(text[i]);
  if (byte >= 0x20 && byte < 0x7f) return {std::string(1, text[i]), 1};
  if (const size_t length = byte >= 0x80 ? Utf8Length(text, i) : 0) {
    if (length != 2 || !C1Control(text, i)) return {std::string(text.substr(i, length)), length};
  }
  switch (byte) {
    case '\n':
      return {"\\n", 1};
    case '\r':
      return {"\\r", 1};
    case '\t':
      return {"\\t", 1};
    default: {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", byte);
      return {hex, 1};
    }
  }
}

// `text` printable, at most `max` characters of it (counting an escape's
// characters); a longer text is cut between characters and ends in "...".
std::string Printable(std::string_view text, size_t max) {
  std::string out;
  size_t width = 0;
  for (size_t i = 0; i < text.size();) {
    auto [piece, used] = Shown(text, i);
    if (width + piece.size() > max) return out + "...";
    out += piece;
    width += piece.size();
    i += used;
  }
  return out;
}

// `line` (printable already) with its middle replaced by "..." when it is
// longer than `max`, cut between UTF-8 characters.
std::string CutInTheMiddle(const std::string& line, size_t max) {
  if (line.size() <= max) return line;
  size_t head = (max - 3) / 2;
  size_t tail = line.size() - (max - 3 - head);
  while (head > 0 && Continuation(static_cast<unsigned char>(line[head]))) --head;
  while (tail < line.size() && Continuation(static_cast<unsigned char>(line[tail]))) ++tail;
  return line.substr(0, head) + "..." + line.substr(tail);
}

}  // namespace

std::string ShownValue(std::string_view value) { return Printable(value, QUOTED_VALUE_MAX); }

std::string ShownName(std::string_view name) { return Printable(name, std::string::npos); }

std::string QuotedValue(std::string_view value) {
  std::string quoted(1, '\'');
  quoted += ShownValue(value);
  quoted += '\'';
  return quoted;
}

std::string PrintableMessage(std::string_view message, size_t firstLineMax) {
  std::string out;
  size_t start = 0;
  for (bool first = true;; first = false) {
    const size_t end = message.find('\n', start);
    const std::string line = Printable(message.substr(start, end - start), std::string::npos);
    out += first ? CutInTheMiddle(line, firstLineMax) : line;
    if (end == std::string_view::npos) return out;
    out += '\n';
    start = end + 1;
  }
}

std::string OneLine(std::string_view message) { return ShownName(message); }

}  // namespace kestrion
