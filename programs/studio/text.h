// text.h: comparing names as HTTP and window classes compare them.
#pragma once

#include <algorithm>
#include <cctype>
#include <string_view>

namespace studio {

// True when both are equal but for the case of ASCII letters.
inline bool SameNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace studio
