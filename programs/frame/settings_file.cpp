#include "frame/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <nlohmann/json.hpp>
#include <optional>

#include "base/errors.h"
#include "base/numbers.h"
#include "frame/view_text.h"

namespace kestrion {

namespace {

using nlohmann::json;

float Number(const json& value, const std::string& field) {
  if (!value.is_number()) throw std::invalid_argument(field + " must be a number");
  const double number = value.get<double>();
  if (!std::isfinite(static_cast<float>(number))) {
    throw std::invalid_argument(field + " must be a finite number");
  }
  return static_cast<float>(number);
}

int64_t WholeNumber(const json& value, const std::string& field) {
  constexpr int64_t LIMIT = std::numeric_limits<int>::max();
  bool fits = false;
  if (value.is_number_unsigned()) {
    fits = value.get<uint64_t>() <= static_cast<uint64_t>(LIMIT);
  } else if (value.is_number_integer()) {
    const int64_t n = value.get<int64_t>();
    fits = n >= -LIMIT && n <= LIMIT;
  }
  if (!fits) throw std::invalid_argument(field + " must hold whole numbers");
  return value.get<int64_t>();
}

// The frame of the next key of `field`: whole, in range and after the
// frames of the keys before it.
template <typename Value>
int32_t KeyFrame(const json& frame, const std::string& field,
                 const std::map<int32_t, Value>& before) {
  const int64_t n = WholeNumber(frame, field + " key frames");
  CheckFrame(n, field);
  if (!before.empty() && n <= before.rbegin()->first) {
    throw std::invalid_argument(
        field + ": key at frame " + std::to_string(n) + " follows the key at frame " +
        std::to_string(before.rbegin()->first) + "; give keys in increasing frame order");
  }
  return static_cast<int32_t>(n);
}

// A number, or keys [[frame, value], ...].
FloatKeys FloatKeysOf(const json& value, const std::string& field) {
  FloatKeys keys;
  if (!value.is_array()) {
    keys.emplace(0, Number(value, field));
    return keys;
  }
  if (value.empty()) throw std::invalid_argument(field + " has no keys");
  for (const json& key : value) {
    if (!key.is_array() || key.size() != 2) {
      throw std::invalid_argument(field + " keys must be [frame, value]");
    }
    const int32_t frame = KeyFrame(key[0], field, keys);
    keys.emplace(frame, Number(key[1], field));
  }
  return keys;
}

// [x, y], or keys [[frame, x, y], ...].
PixelKeys PixelKeysOf(const json& value, const std::string& field) {
  PixelKeys keys;
  if (!value.is_array() || value.empty()) {
    throw std::invalid_argument(field + " must be [x, y] or [[frame, x, y], ...]");
  }
  if (!value[0].is_array()) {
    if (value.size() != 2) throw std::invalid_argument(field + " must be [x, y]");
    keys.emplace(0, FocusPixel{static_cast<int>(WholeNumber(value[0], field)),
                               static_cast<int>(WholeNumber(value[1], field))});
    return keys;
  }
  for (const json& key : value) {
    if (!key.is_array() || key.size() != 3) {
      throw std::invalid_argument(field + " keys must be [frame, x, y]");
    }
    const int32_t frame = KeyFrame(key[0], field, keys);
    keys.emplace(frame, FocusPixel{static_cast<int>(WholeNumber(key[1], field)),
                                   static_cast<int>(WholeNumber(key[2], field))});
  }
  return keys;
}

// A size in pixels (a number, keys [[frame, pixels], ...]) or in per cent
// of the frame's width ("2%", keys [[frame, "2%"], ...]), checked.
void SizeOf(const json& value, const std::string& field, RenderSettings& settings) {
  auto percent = [](const json& v) { return v.is_string(); };
  bool anyPercent = percent(value);
  bool allPercent = anyPercent;
  if (value.is_array()) {
    allPercent = !value.empty();
    for (const json& key : value) {
      const bool p = key.is_array() && key.size() == 2 && percent(key[1]);
      anyPercent = anyPercent || p;
      allPercent = allPercent && p;
    }
  }
  if (!anyPercent) {
    settings.size = FloatKeysOf(value, field);
    settings.sizeInPercent = false;
    CheckKeys(*settings.size, CheckBlurSize, field);
    return;
  }
  if (!allPercent) {
    throw std::invalid_argument(field +
                                " mixes pixels and per cent; give every key in one of them");
  }
  // "2%" -> 2, each checked as a number of the same strict form as elsewhere.
  auto number = [&field](const json& text) {
    const std::string s = text.get<std::string>();
    if (s.empty() || s.back() != '%') {
      throw std::invalid_argument(field +
                                  " must be a number, or a share of the frame's width such as "
                                  "\"2%\"");
    }
    const Parsed<float> parsed = ParseFloat<float>(std::string_view(s).substr(0, s.size() - 1));
    if (!parsed.value)
      throw std::invalid_argument(field + ": " + QuotedValue(s) + " " + parsed.reason);
    return *parsed.value;
  };
  json numbers = value;
  if (value.is_string()) {
    numbers = number(value);
  } else {
    for (json& key : numbers) key[1] = number(key[1]);
  }
  settings.size = FloatKeysOf(numbers, field);
  settings.sizeInPercent = true;
  CheckSizePercent(*settings.size, field);
}

// The "view" object: names as strings, exposure and gamma as numbers.
ViewOptions ViewOf(const json& value) {
  if (!value.is_object()) throw std::invalid_argument("view must be an object");
  ViewOptions view;
  for (const auto& [key, field] : value.items()) {
    const std::string label = "view." + key;
    if (key == "exposure" || key == "gamma") {
      const float number = Number(field, label);
      if (key == "exposure") {
        view.exposure = CheckExposure(number, label);
      } else {
        view.gamma = CheckGamma(number, label);
      }
    } else {
      if (!field.is_string()) throw std::invalid_argument(label + " must be a string");
      SetViewOption(key, field.get<std::string>(), label, view);
    }
  }
  return view;
}

// What a document gives beyond settings of their own: whether it gave
// focusMissing, the layered switch, its view's fields.
struct FileExtras {
  bool focusMissingGiven = false;
  std::optional<bool> layered;
  ViewOptions view;
};

// The fields the document gives, in settings of their own and `extras`.
RenderSettings FromJson(const json& document, FileExtras& extras) {
  if (!document.is_object()) throw std::invalid_argument("the settings must be a JSON object");
  RenderSettings settings;
  for (const auto& [key, value] : document.items()) {
    if (key == "focusDepth") {
      settings.focusDepth = FloatKeysOf(value, key);
    } else if (key == "focusPixel") {
      settings.focusPixel = PixelKeysOf(value, key);
    } else if (key == "focusObject") {
      if (value.is_string()) {
        settings.focusObjectName = value.get<std::string>();
        if (settings.focusObjectName->empty()) {
          throw std::invalid_argument("focusObject must be an object ID or a name");
        }
      } else {
        settings.focusObject = CheckFocusObject(WholeNumber(value, key), key);
      }
    } else if (key == "focusMissing") {
      if (!value.is_string()) throw std::invalid_argument("focusMissing must be a string");
      settings.focusMissing = ParseFocusMissing(value.get<std::string>(), key);
      extras.focusMissingGiven = true;
    } else if (key == "focusStatistic") {
      if (!value.is_string()) throw std::invalid_argument("focusStatistic must be a string");
      settings.focusStatistic = ParseFocusStatistic(value.get<std::string>(), key);
    } else if (key == "range") {
      settings.range = FloatKeysOf(value, key);
      CheckKeys(*settings.range, CheckBlurRange, key);
    } else if (key == "size") {
      SizeOf(value, key, settings);
    } else if (key == "source") {
      if (!value.is_string()) throw std::invalid_argument("source must be a string");
      settings.source = ParseSource(value.get<std::string>());
    } else if (key == "layered") {
      if (!value.is_boolean()) throw std::invalid_argument("layered must be true or false");
      extras.layered = value.get<bool>();
    } else if (key == "view") {
      extras.view = ViewOf(value);
    } else {
      throw std::invalid_argument("unknown field " + QuotedValue(key));
    }
  }
  if (settings.FocusCount() > 1) {
    throw std::invalid_argument("give one of focusDepth, focusPixel and focusObject");
  }
  return settings;
}

// `base` with the fields the file gave replaced.
RenderSettings Merged(RenderSettings base, const RenderSettings& file, const FileExtras& extras) {
  if (file.FocusCount() > 0) {
    base.focusDepth = file.focusDepth;
    base.focusPixel = file.focusPixel;
    base.focusObject = file.focusObject;
    base.focusObjectName = file.focusObjectName;
  }
  if (file.focusStatistic) base.focusStatistic = file.focusStatistic;
  if (extras.focusMissingGiven) base.focusMissing = file.focusMissing;
  if (extras.layered) base.layered = *extras.layered;
  if (file.range) base.range = file.range;
  if (file.size) {
    base.size = file.size;
    base.sizeInPercent = file.sizeInPercent;
  }
  if (file.source) base.source = file.source;
  ApplyViewOptions(extras.view, base.output.review);
  return base;
}

// Finds where JSON text stops being JSON without building anything: the
// position and the token the parser stopped at, and whether a number was
// too large for a double.
class JsonErrorFinder : public nlohmann::json_sax<json> {
 public:
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return true; }
  bool key(string_t&) override { return true; }
  bool end_object() override { return true; }
  bool start_array(std::size_t) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(std::size_t at, const std::string& token, const json::exception& e) override {
    position = at;
    lastToken = token;
    // nlohmann's id for a number that overflows a double.
    numberOverflow = e.id == 406;
    message = e.what();
    return false;
  }

  std::size_t position = 0;
  std::string lastToken;
  std::string message;  // the parser's own, classified, never shown
  bool numberOverflow = false;
};

// "line L, column C" of byte `offset` of `text`, both counted from 1.
std::string LineAndColumn(const std::string& text, size_t offset) {
  offset = std::min(offset, text.size());
  size_t line = 1;
  size_t lineStart = 0;
  for (size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(offset - lineStart + 1);
}

// Throws a UsageError naming `name` and where the text stops being JSON,
// in kestrion's words rather than the JSON library's.
void CheckJsonSyntax(const std::string& text, const std::string& name) {
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
    throw UsageError(ShownName(name) + ": not valid JSON: the file holds no settings");
  }
  JsonErrorFinder finder;
  if (json::sax_parse(text, &finder)) return;
  if (finder.numberOverflow) {
    // The position follows the number, whose text is the last token.
    const size_t start = finder.position - std::min(finder.position, finder.lastToken.size());
    throw UsageError(ShownName(name) + ": " + LineAndColumn(text, start) + ": the number " +
                     ShownValue(finder.lastToken) + " is out of range");
  }
  // The position counts the character the parser stopped at, or one past
  // the end when the text ended first.
  if (finder.position > text.size()) {
    throw UsageError(ShownName(name) + ": not valid JSON at " + LineAndColumn(text, text.size()) +
                     ": the text ends before the JSON does");
  }
  const size_t at = finder.position > 0 ? finder.position - 1 : 0;
  const auto byte = static_cast<unsigned char>(text[at]);
  // The parser's message tells what kind of token failed; the wording is ours.
  const auto says = [&finder](const char* words) {
    return finder.message.find(words) != std::string::npos;
  };
  std::string what;
  if (says("invalid string") && byte < 0x20) {
    what = "a control character in a string (write it as \\n, \\t or \\u00XX)";
  } else if (says("invalid string") && says("UTF-8")) {
    // The parser stops at the byte after the first one that is not UTF-8.
    what = "a string that is not UTF-8";
  } else if (says("invalid string") && says("\\u")) {
    what = "a \\u escape that is not four hex digits or not a whole surrogate pair";
  } else if (says("invalid string")) {
    what = "a string with an escape JSON does not have";
  } else if (says("invalid number")) {
    what = "a number JSON does not allow";
  } else if (says("invalid literal") && !says("expected end of input") && byte >= 0x20 &&
             byte < 0x80) {
    what = "a word that is not true, false or null";
  } else {
    // The character there, whole when it is a UTF-8 sequence.
    size_t end = at + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xc0) == 0x80) ++end;
    what = "unexpected " + QuotedValue(std::string_view(text).substr(at, end - at));
  }
  throw UsageError(ShownName(name) + ": not valid JSON at " + LineAndColumn(text, at) + ": " +
                   what);
}

// The file's text: a regular file of at most SETTINGS_FILE_MAX bytes.
// Opened without blocking, so that a FIFO is refused rather than waited on.
std::string ReadSettingsText(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) throw FileError(path, std::string("cannot open (") + std::strerror(errno) + ")");
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  struct stat status {};
  if (fstat(fd, &status) != 0) {
    throw FileError(path, std::string("cannot read (") + std::strerror(errno) + ")");
  }
  if (!S_ISREG(status.st_mode)) throw UsageError(ShownName(path) + ": not a regular file");
  // Read at most one byte past the cap, so that a file that grows meanwhile
  // is still caught without reading it whole. The buffer starts at the size
  // the file says it has and grows only while more comes.
  std::string text(static_cast<size_t>(std::clamp<off_t>(status.st_size, 0, SETTINGS_FILE_MAX)) + 1,
                   '\0');
  size_t size = 0;
  while (size <= SETTINGS_FILE_MAX) {
    if (size == text.size()) text.resize(std::min(2 * text.size(), SETTINGS_FILE_MAX + 1));
    const ssize_t got = read(fd, text.data() + size, text.size() - size);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw FileError(path, std::string("cannot read (") + std::strerror(errno) + ")");
    if (got == 0) break;
    size += static_cast<size_t>(got);
  }
  if (size > SETTINGS_FILE_MAX)
    throw UsageError(ShownName(path) + ": larger than 1 MiB, not a settings file");
  text.resize(size);
  return text;
}

}  // namespace

RenderSettings ParseSettings(const std::string& text, const std::string& name,
                             RenderSettings base) {
  CheckJsonSyntax(text, name);
  try {
    FileExtras extras;
    const RenderSettings file = FromJson(json::parse(text), extras);
    return Merged(std::move(base), file, extras);
  } catch (const Error& e) {
    throw UsageError(ShownName(name) + ": " + e.what());
  } catch (const std::invalid_argument& e) {
    throw UsageError(ShownName(name) + ": " + e.what());
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    // The syntax was checked above and every value's type is checked
    // before it is read, so nothing should come here; if it does, the
    // file is still named.
    throw UsageError(ShownName(name) + ": not valid settings");
  }
}

RenderSettings ReadSettingsFile(const std::string& path, RenderSettings base) {
  return ParseSettings(ReadSettingsText(path), path, std::move(base));
}

}  // namespace kestrion
