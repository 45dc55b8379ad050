#pragma once
// Whether this build runs under AddressSanitizer: its shadow memory makes
// peak memory figures meaningless, so limits on them are not checked.

namespace xb::test {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

}  // namespace xb::test
