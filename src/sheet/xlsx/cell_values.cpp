#include "sheet/xlsx/cell_values.h"

#include <cctype>
#include <charconv>
#include <cstdint>

#include "sheet/grid.h"
#include "text/ascii.h"
#include "text/utf8.h"

namespace xb::sheet::xlsx {
namespace {

// Reads the _xHHHH_ escape at s[i] (the form the file uses for characters
// XML cannot carry, such as a carriage return); -1 when there is none.
int EscapeAt(std::string_view s, size_t i) {
  if (i + 7 > s.size() || s[i] != '_' || s[i + 1] != 'x' || s[i + 6] != '_') return -1;
  int v = 0;
  for (size_t k = i + 2; k < i + 6; ++k) {
    const char c = s[k];
    v <<= 4;
    if (c >= '0' && c <= '9')
      v |= c - '0';
    else if (c >= 'a' && c <= 'f')
      v |= c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v |= c - 'A' + 10;
    else
      return -1;
  }
  return v;
}

}  // namespace

void DecodeEscapes(std::string& s) {
  if (s.find("_x") == std::string::npos) return;
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const int v = EscapeAt(s, i);
    if (v < 0) {
      out += s[i++];
      continue;
    }
    i += 7;
    uint32_t cp = uint32_t(v);
    if (cp >= 0xD800 && cp < 0xDC00) {
      const int low = EscapeAt(s, i);
      if (low >= 0xDC00 && low < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + uint32_t(low - 0xDC00);
        i += 7;
      } else {
        cp = 0xFFFD;
      }
    } else if (cp >= 0xDC00 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    text::AppendUtf8(out, cp);
  }
  s.swap(out);
}

size_t Utf16Length(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s) {
    if (!text::IsContinuationByte(char(c))) ++n;
    if (c >= 0xF0) ++n;
  }
  return n;
}

bool ParseCellRef(const char* ref, int& column, int& row) {
  column = 0;
  row = 0;
  const char* p = ref;
  while (*p >= 'A' && *p <= 'Z') {
    column = column * 26 + (*p - 'A' + 1);
    if (column > kMaxColumns) return false;
    ++p;
  }
  if (*p == '$') return false;
  while (*p >= '0' && *p <= '9') {
    row = row * 10 + (*p - '0');
    if (row > kMaxRows) return false;
    ++p;
  }
  return *p == '\0' && column > 0;
}

bool ParseIsoDate(std::string_view s, bool date1904, double& serial, bool& has_time) {
  s = text::Trimmed(s);
  int y = 0, m = 0, d = 0, hh = 0, mm = 0;
  double ss = 0;
  auto num = [&](size_t at, size_t len, int& out) {
    if (at + len > s.size()) return false;
    const auto [ptr, ec] = std::from_chars(s.data() + at, s.data() + at + len, out);
    return ec == std::errc() && ptr == s.data() + at + len;
  };
  size_t pos = 0;
  bool has_date = false;
  if (s.size() >= 10 && s[4] == '-' && s[7] == '-') {
    if (!num(0, 4, y) || !num(5, 2, m) || !num(8, 2, d)) return false;
    if (m < 1 || m > 12 || d < 1 || d > 31) return false;
    has_date = true;
    pos = 10;
    if (pos < s.size() && s[pos] == 'T') ++pos;
  }
  has_time = false;
  if (pos < s.size() && s.size() - pos >= 8 && s[pos + 2] == ':' && s[pos + 5] == ':') {
    if (!num(pos, 2, hh) || !num(pos + 3, 2, mm)) return false;
    size_t end = pos + 6;
    while (end < s.size() && (std::isdigit(uint8_t(s[end])) || s[end] == '.')) ++end;
    const auto [ptr, ec] = std::from_chars(s.data() + pos + 6, s.data() + end, ss);
    if (ec != std::errc() || ptr != s.data() + end) return false;
    if (hh > 23 || mm > 59 || ss >= 61) return false;
    has_time = hh || mm || ss > 0;
    pos = end;
  }
  if (pos < s.size() && s.substr(pos) != "Z") return false;
  if (!has_date && pos == 0) return false;
  double days = 0;
  if (has_date) {
    // Days from 1970-01-01 (proleptic Gregorian).
    const int yy = y - (m <= 2);
    const int era = (yy >= 0 ? yy : yy - 399) / 400;
    const unsigned yoe = unsigned(yy - era * 400);
    const unsigned doy = unsigned((153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1);
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long z = (long long)era * 146097 + (long long)doe - 719468;
    if (date1904) {
      days = double(z + 24107);
    } else {
      days = double(z + 25569);
      if (days < 61) days -= 1;  // before the 29 February 1900 that never was
    }
    if (days < 0) return false;
  }
  serial = days + (hh * 3600 + mm * 60 + ss) / 86400.0;
  return true;
}

}  // namespace xb::sheet::xlsx
