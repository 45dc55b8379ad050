#pragma once
// Little-endian fields of the binary formats the readers take apart. The
// caller has checked that the bytes are there.

#include <bit>
#include <cstdint>
#include <cstring>

namespace xb::sheet {

inline uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

inline uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline double LeF64(const uint8_t* p) {
  uint64_t bits = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&bits, p, 8);
  } else {
    for (int i = 7; i >= 0; --i) bits = bits << 8 | p[i];
  }
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

}  // namespace xb::sheet
