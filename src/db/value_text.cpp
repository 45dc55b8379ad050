#include "db/value_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace xb::db {

std::string FloatText(double value) {
  if (std::isnan(value) || std::isinf(value)) return value > 0 ? "~" : value < 0 ? "-~" : "NaN";
  if (value == 0) return "0";
  if (std::fabs(value) < 1e15 && value == std::trunc(value)) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.0f", value);
    return buffer;
  }
  // Rounded to 15 significant digits; the exponent is the rounded value's.
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(value));
  const std::string sci = buffer;
  const auto e = sci.find('e');
  const int exp10 = std::atoi(sci.c_str() + e + 1);
  std::string digits;
  for (size_t i = 0; i < e; ++i)
    if (sci[i] >= '0' && sci[i] <= '9') digits += sci[i];
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out = value < 0 ? "-" : "";
  if (exp10 >= 15 || exp10 < -4) {
    out += digits[0];
    if (digits.size() > 1) out += "." + digits.substr(1);
    out += exp10 < 0 ? "E-" : "E+";
    if (std::abs(exp10) < 10) out += '0';
    out += std::to_string(std::abs(exp10));
  } else if (exp10 < 0) {
    out += "0." + std::string(size_t(-exp10 - 1), '0') + digits;
  } else if (digits.size() <= size_t(exp10) + 1) {
    out += digits + std::string(size_t(exp10) + 1 - digits.size(), '0');
  } else {
    out += digits.substr(0, size_t(exp10) + 1) + "." + digits.substr(size_t(exp10) + 1);
  }
  return out;
}

std::string BlobText(const void* bytes, size_t size) {
  static const char kHex[] = "0123456789ABCDEF";
  const auto* p = static_cast<const unsigned char*>(bytes);
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out += kHex[p[i] >> 4];
    out += kHex[p[i] & 15];
  }
  return out;
}

}  // namespace xb::db
