#include "base/numbers.h"

#include <cmath>

#include "base/errors.h"

namespace kestrion::number_text {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (Lower(text[i]) != word[i]) return false;
  }
  return true;
}

// Skips a run of digits from `i`; true when there was at least one.
bool Digits(std::string_view text, size_t& i) {
  const size_t start = i;
  while (i < text.size() && IsDigit(text[i])) ++i;
  return i > start;
}

// [-]digits, or with `fraction` also [-](digits[.digits*] | .digits)
// [(e|E)[+|-]digits]; infinity spelt "inf" or "infinity" when `fraction`.
bool WellFormed(std::string_view text, bool fraction) {
  size_t i = text.starts_with('-') ? 1 : 0;
  if (fraction && (EqualsIgnoringCase(text.substr(i), "inf") ||
                   EqualsIgnoringCase(text.substr(i), "infinity"))) {
    return true;
  }
  const bool whole = Digits(text, i);
  if (!fraction) return whole && i == text.size();
  bool decimals = false;
  if (i < text.size() && text[i] == '.') {
    ++i;
    decimals = Digits(text, i);
  }
  if (!whole && !decimals) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (!Digits(text, i)) return false;
  }
  return i == text.size();
}

std::string Written(long double value) {
  if (std::isinf(value)) return value > 0 ? "infinity" : "-infinity";
  char text[48];
  const auto end = std::to_chars(text, text + sizeof text, static_cast<double>(value)).ptr;
  return std::string(text, end);
}

}  // namespace

std::string FormProblem(std::string_view text, bool whole) {
  if (text.empty()) return "is empty";
  for (char c : text) {
    if (c == ' ') return "holds a space";
    if (IsSpace(c)) return "holds white space";
  }
  const std::string_view digits = text.starts_with('-') ? text.substr(1) : text;
  if (digits.size() > 1 && digits[0] == '0' && Lower(digits[1]) == 'x') {
    return "is hexadecimal; write it in decimal";
  }
  if (EqualsIgnoringCase(digits, "nan") || EqualsIgnoringCase(digits.substr(0, 4), "nan(")) {
    return "is not a number (NaN)";
  }
  if (WellFormed(text, !whole)) return {};
  return whole ? "is not a whole number" : "is not a number";
}

std::string OutsideRange(long double min, long double max) {
  if (std::isinf(max)) return "is below " + Written(min);
  if (std::isinf(min)) return "is above " + Written(max);
  return "is outside " + Written(min) + " to " + Written(max);
}

std::string OutsideRange(int64_t min, int64_t max) {
  return "is outside " + std::to_string(min) + " to " + std::to_string(max);
}

std::string OutsideRange(uint64_t min, uint64_t max) {
  return "is outside " + std::to_string(min) + " to " + std::to_string(max);
}

std::string OutOfRange(std::string_view text) {
  long double value = 0.0L;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  const bool tiny = error == std::errc() ? std::fabs(value) < 1.0L
                                         : text.find("e-") != std::string_view::npos ||
                                               text.find("E-") != std::string_view::npos;
  return tiny ? "is too close to 0 to be told from it" : "is out of range";
}

void ThrowBadOption(const std::string& option, std::string_view text, const std::string& reason) {
  throw UsageError(option + ": " + QuotedValue(text) + " " + reason);
}

}  // namespace kestrion::number_text

namespace kestrion {

Parsed<uint64_t> ParseByteSize(std::string_view text) {
  constexpr const char* FORM = "is not a size (bytes, or a number with K, M, G or T: 512M)";
  unsigned shift = 0;
  std::string_view digits = text;
  if (!text.empty()) {
    switch (text.back()) {
      case 'K':
      case 'k':
        shift = 10;
        break;
      case 'M':
      case 'm':
        shift = 20;
        break;
      case 'G':
      case 'g':
        shift = 30;
        break;
      case 'T':
      case 't':
        shift = 40;
        break;
      default:
        break;
    }
    if (shift) digits.remove_suffix(1);
  }
  if (text.empty()) return {std::nullopt, "is empty"};
  if (std::string problem = number_text::FormProblem(digits, true); !problem.empty()) {
    const bool formOnly = problem == "is empty" || problem == "is not a whole number";
    return {std::nullopt, formOnly || digits.starts_with('-') ? FORM : problem};
  }
  if (digits.starts_with('-')) return {std::nullopt, FORM};
  uint64_t count = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), count);
  if (error != std::errc() || (count << shift) >> shift != count) {
    return {std::nullopt, "is larger than a 64-bit byte count holds"};
  }
  return {count << shift, {}};
}

uint64_t ByteSizeOption(std::string_view text, const std::string& option, uint64_t min) {
  Parsed<uint64_t> parsed = ParseByteSize(text);
  if (parsed.value && *parsed.value < min) {
    parsed = {std::nullopt,
              "is less than " + std::to_string(min) + (min == 1 ? " byte" : " bytes")};
  }
  if (!parsed.value) number_text::ThrowBadOption(option, text, parsed.reason);
  return *parsed.value;
}

}  // namespace kestrion
