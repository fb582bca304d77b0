// Numbers as users write them, and how their values are quoted back.
#include "base/numbers.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/errors.h"

namespace kestrion {
namespace {

struct Refused {
  const char* text;
  const char* reason;
};

TEST(Numbers, WholeNumbersArePlainDecimalWithinTheTargetsRange) {
  EXPECT_EQ(ParseInteger<int32_t>("12").value, 12);
  EXPECT_EQ(ParseInteger<int32_t>("-3").value, -3);
  EXPECT_EQ(ParseInteger<int32_t>("010").value, 10) << "a leading zero is not octal";
  EXPECT_EQ(ParseInteger<int32_t>("-2147483648").value, INT32_MIN);
  EXPECT_EQ(ParseInteger<uint64_t>("18446744073709551615").value, UINT64_MAX);
  EXPECT_EQ(ParseInteger<int>("7", 1, 7).value, 7);

  for (const Refused& c : std::initializer_list<Refused>{
           {"", "is empty"},
           {" 10", "holds a space"},
           {"1 0", "holds a space"},
           {"10\n", "holds white space"},
           {"+5", "is not a whole number"},
           {"2.5", "is not a whole number"},
           {"12abc", "is not a whole number"},
           {"-", "is not a whole number"},
           {"2147483648", "is outside -2147483648 to 2147483647"},
           {"99999999999999999999999", "is outside -2147483648 to 2147483647"},
       }) {
    const Parsed<int32_t> parsed = ParseInteger<int32_t>(c.text);
    EXPECT_FALSE(parsed.value) << '"' << c.text << '"';
    EXPECT_EQ(parsed.reason, c.reason) << '"' << c.text << '"';
  }
  // Unsigned targets refuse a minus sign as out of range; narrowed ranges
  // are the ones named.
  EXPECT_EQ(ParseInteger<unsigned>("-1").reason, "is outside 0 to 4294967295");
  EXPECT_EQ(ParseInteger<uint16_t>("65536").reason, "is outside 0 to 65535");
  EXPECT_EQ(ParseInteger<int>("0", 1, 1024).reason, "is outside 1 to 1024");
}

TEST(Numbers, FloatsAreDecimalAndFiniteUnlessTheRangeSaysOtherwise) {
  for (auto [text, value] :
       std::initializer_list<std::pair<const char*, float>>{{"2.5", 2.5f},
                                                            {".5", 0.5f},
                                                            {"5.", 5.0f},
                                                            {"-0.25", -0.25f},
                                                            {"1e-3", 1e-3f},
                                                            {"1E+2", 100.0f},
                                                            {"007", 7.0f},
                                                            {"3.4028234e38", 3.4028234e38f}}) {
    EXPECT_EQ(ParseFloat<float>(text).value, value) << text;
  }
  for (const Refused& c : std::initializer_list<Refused>{
           {"", "is empty"},
           {" 1", "holds a space"},
           {"1\t", "holds white space"},
           {"0x1p3", "is hexadecimal; write it in decimal"},
           {"nan", "is not a number (NaN)"},
           {"-NaN", "is not a number (NaN)"},
           {"inf", "is not finite"},
           {"1e400", "is out of range"},
           {"3.5e38", "is out of range"},
           {"1e-400", "is too close to 0 to be told from it"},
           {"1e", "is not a number"},
           {"+1", "is not a number"},
           {"1,5", "is not a number"},
       }) {
    const Parsed<float> parsed = ParseFloat<float>(c.text);
    EXPECT_FALSE(parsed.value) << '"' << c.text << '"';
    EXPECT_EQ(parsed.reason, c.reason) << '"' << c.text << '"';
  }
  // A number beyond a float's range may still be a double.
  EXPECT_EQ(ParseFloat<double>("1e300").value, 1e300);
  // Infinity where the range reaches it, with the right sign.
  const float infinity = std::numeric_limits<float>::infinity();
  EXPECT_EQ(ParseFloat<float>("inf", 0.0f, infinity).value, infinity);
  EXPECT_EQ(ParseFloat<float>("-inf", 0.0f, infinity).reason, "is below 0");
  EXPECT_EQ(ParseFloat<float>("100000", 0.0f, 99999.0f).reason, "is outside 0 to 99999");
}

TEST(Numbers, ByteSizesTakePowersOf1024) {
  EXPECT_EQ(ParseByteSize("0").value, 0u);
  EXPECT_EQ(ParseByteSize("65536").value, 65536u);
  EXPECT_EQ(ParseByteSize("3K").value, 3u << 10);
  EXPECT_EQ(ParseByteSize("512M").value, 512u << 20);
  EXPECT_EQ(ParseByteSize("2g").value, uint64_t{2} << 30);
  EXPECT_EQ(ParseByteSize("16777215T").value, uint64_t{16777215} << 40);
  const std::string form = "is not a size (bytes, or a number with K, M, G or T: 512M)";
  for (const Refused& c : std::initializer_list<Refused>{
           {"", "is empty"},
           {"1.5G", form.c_str()},
           {"-1K", form.c_str()},
           {"12KB", form.c_str()},
           {"1 G", "holds a space"},
           {"0x100M", "is hexadecimal; write it in decimal"},
           {"16777216T", "is larger than a 64-bit byte count holds"},
       }) {
    const Parsed<uint64_t> parsed = ParseByteSize(c.text);
    EXPECT_FALSE(parsed.value) << '"' << c.text << '"';
    EXPECT_EQ(parsed.reason, c.reason) << '"' << c.text << '"';
  }
}

TEST(Numbers, OptionFormsNameTheOptionAndQuoteTheText) {
  try {
    IntegerOption<int>("0x10", "--width");
    ADD_FAILURE() << "hexadecimal accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::Usage);
    EXPECT_STREQ(e.what(), "--width: '0x10' is hexadecimal; write it in decimal");
  }
  try {
    ByteSizeOption(std::string(1000, '9'), "--memory-limit");
    ADD_FAILURE() << "a huge size accepted";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "--memory-limit: '" + std::string(80, '9') +
                                         "...' is larger than a 64-bit byte count holds");
  }
  EXPECT_THROW(ByteSizeOption("0", "--memory-limit", 1), Error);
  EXPECT_EQ(ByteSizeOption("1", "--memory-limit", 1), 1u);
  EXPECT_EQ(FloatOption<float>("2.5", "--depth-near"), 2.5f);
}

// `inner` between single quotes.
std::string Quoted(const std::string& inner) {
  std::string quoted(1, '\'');
  quoted.append(inner).push_back('\'');
  return quoted;
}

TEST(QuotedValues, AreBoundedEscapedAndNeverSplitACharacter) {
  EXPECT_EQ(QuotedValue("plain"), "'plain'");
  EXPECT_EQ(QuotedValue(std::string(80, 'a')), Quoted(std::string(80, 'a')));
  EXPECT_EQ(QuotedValue(std::string(81, 'a')), Quoted(std::string(80, 'a') + "..."));
  EXPECT_EQ(QuotedValue("a\nb\tc\rd\x1b[31me\x7f"), "'a\\nb\\tc\\rd\\x1b[31me\\x7f'");
  EXPECT_EQ(QuotedValue(std::string_view("nul\0here", 8)), "'nul\\x00here'");
  // UTF-8 stays as it is; bytes that are not UTF-8 are escaped.
  EXPECT_EQ(QuotedValue("caf\xc3\xa9"), "'caf\xc3\xa9'");
  EXPECT_EQ(QuotedValue("caf\xe9"), "'caf\\xe9'");
  EXPECT_EQ(QuotedValue("\xc3"), "'\\xc3'") << "a truncated sequence";
  // 79 ASCII characters and then two-byte characters: the cut falls before
  // a character that does not fit whole.
  const std::string accents = std::string(79, 'a') + "\xc3\xa9\xc3\xa9";
  EXPECT_EQ(QuotedValue(accents), Quoted(std::string(79, 'a') + "..."));
  // Escapes count at their printed width.
  EXPECT_EQ(QuotedValue(std::string(30, '\x01')).size(), 2 + 20 * 4 + 3u);
}

TEST(PrintableMessages, KeepEachEndOfALongFirstLineAndTheListingAfterIt) {
  const std::string path = "/renders/" + std::string(3000, 'p') + ".exr";
  const std::string listing = "  part 0: " + std::string(1500, 'c');
  const std::string printed = PrintableMessage(path + ": no depth\x07 channel\n" + listing, 200);
  const std::string first = printed.substr(0, printed.find('\n'));
  EXPECT_EQ(first.size(), 200u);
  EXPECT_EQ(first.rfind("/renders/ppp", 0), 0u) << first;
  EXPECT_TRUE(first.ends_with(".exr: no depth\\x07 channel")) << first;
  EXPECT_NE(first.find("..."), std::string::npos);
  EXPECT_EQ(printed.substr(first.size() + 1), listing);
  EXPECT_EQ(PrintableMessage("short: as it is"), "short: as it is");
}

}  // namespace
}  // namespace kestrion
