// sanitizers.h: whether the test executable was built with the address
// sanitizer, whose allocator reserves far more address space than the
// program uses and replaces the C library's allocator settings. GCC and
// Clang tell it in different ways.
#pragma once

namespace kestrion_test {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool ADDRESS_SANITIZER = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool ADDRESS_SANITIZER = true;
#else
inline constexpr bool ADDRESS_SANITIZER = false;
#endif
#else
inline constexpr bool ADDRESS_SANITIZER = false;
#endif

}  // namespace kestrion_test
