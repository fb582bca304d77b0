// numbers.h: numbers as a user writes them, in an option or a key, read
// strictly. Every number typed on kestrion's command line goes through here
// (a settings file's numbers are JSON's, checked by its parser), so that
// they all follow one rule:
//
//   whole numbers   decimal digits with an optional leading '-' ("12", "-3",
//                   "0012"); a leading zero is not octal
//   numbers         a whole number, optionally with a fraction and a
//                   decimal exponent ("2.5", ".5", "1e-3")
//   byte sizes      a whole number of bytes, or one followed by K, M, G or T
//                   (powers of 1024, either case): "65536", "512M", "2g"
//
// Nothing else: no empty text, no space anywhere, no '+', no hexadecimal
// (integers or floats), no trailing characters, no NaN, and infinity only
// where the allowed range reaches it. A number must fit the range it is
// read for, which is the target type's unless the caller narrows it.
//
// The parsers return the value or a reason: a phrase that follows the
// quoted text in a message ("'0x10' is hexadecimal; write it in decimal").
// The *Option forms throw a UsageError "OPTION: 'TEXT' REASON" with the text
// quoted as QuotedValue (errors.h) bounds it.
#pragma once

#include <charconv>
#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace kestrion {

template <typename T>
struct Parsed {
  std::optional<T> value;
  std::string reason;  // why there is no value
};

namespace number_text {

// Why `text` is not written as a number of the given kind ("is empty",
// "holds a space", "is hexadecimal; ..."), or empty when its form is right.
// Says nothing about range.
std::string FormProblem(std::string_view text, bool whole);
// "is outside MIN to MAX", the bounds written as the user would write them.
std::string OutsideRange(long double min, long double max);
std::string OutsideRange(int64_t min, int64_t max);
std::string OutsideRange(uint64_t min, uint64_t max);
// Why a well-formed number that from_chars found out of range for a float
// or double is not one: too large, or too close to 0.
std::string OutOfRange(std::string_view text);

template <std::integral T>
std::string OutsideRange(T min, T max) {
  if constexpr (std::is_signed_v<T>) {
    return OutsideRange(static_cast<int64_t>(min), static_cast<int64_t>(max));
  } else {
    return OutsideRange(static_cast<uint64_t>(min), static_cast<uint64_t>(max));
  }
}

// Throws the UsageError of an option whose text is not a number.
[[noreturn]] void ThrowBadOption(const std::string& option, std::string_view text,
                                 const std::string& reason);

}  // namespace number_text

template <std::integral T>
Parsed<T> ParseInteger(std::string_view text, T min = std::numeric_limits<T>::min(),
                       T max = std::numeric_limits<T>::max()) {
  if (std::string problem = number_text::FormProblem(text, true); !problem.empty()) {
    return {std::nullopt, problem};
  }
  T value{};
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, value);
  // The form is right, so what from_chars refuses is out of range: too
  // many digits, or a minus sign on an unsigned type.
  if (error != std::errc() || end != last || value < min || value > max) {
    return {std::nullopt, number_text::OutsideRange(min, max)};
  }
  return {value, {}};
}

// Infinity is a value only when `min` or `max` is infinite (the sign must
// match); NaN never is.
template <std::floating_point T>
Parsed<T> ParseFloat(std::string_view text, T min = std::numeric_limits<T>::lowest(),
                     T max = std::numeric_limits<T>::max()) {
  if (std::string problem = number_text::FormProblem(text, false); !problem.empty()) {
    return {std::nullopt, problem};
  }
  T value{};
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, value);
  if (error == std::errc::result_out_of_range) {
    return {std::nullopt, number_text::OutOfRange(text)};
  }
  if (error != std::errc() || end != last) return {std::nullopt, "is not a number"};
  if (!(value >= min && value <= max)) {
    const bool fullRange =
        min == std::numeric_limits<T>::lowest() && max == std::numeric_limits<T>::max();
    return {std::nullopt, fullRange ? "is not finite"
                                    : number_text::OutsideRange(static_cast<long double>(min),
                                                                static_cast<long double>(max))};
  }
  return {value, {}};
}

// A byte count: digits, optionally followed by K, M, G or T (x 1024^1..4).
Parsed<uint64_t> ParseByteSize(std::string_view text);

template <std::integral T>
T IntegerOption(std::string_view text, const std::string& option,
                T min = std::numeric_limits<T>::min(), T max = std::numeric_limits<T>::max()) {
  Parsed<T> parsed = ParseInteger<T>(text, min, max);
  if (!parsed.value) number_text::ThrowBadOption(option, text, parsed.reason);
  return *parsed.value;
}

template <std::floating_point T>
T FloatOption(std::string_view text, const std::string& option,
              T min = std::numeric_limits<T>::lowest(), T max = std::numeric_limits<T>::max()) {
  Parsed<T> parsed = ParseFloat<T>(text, min, max);
  if (!parsed.value) number_text::ThrowBadOption(option, text, parsed.reason);
  return *parsed.value;
}

// A byte count of at least `min`.
uint64_t ByteSizeOption(std::string_view text, const std::string& option, uint64_t min = 0);

}  // namespace kestrion
