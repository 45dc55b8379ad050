// How a cell's value reads as text: numbers as the General format spells
// them, date-formatted numbers as yyyy-m-d[ h:mm:ss].

#include "sheet/cell_text.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "text/ascii.h"

namespace xb::sheet {
namespace {

void AppendNumber(std::string& out, long long n) {
  char buf[24];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, n).ptr);
}

void AppendTwoDigits(std::string& out, long long n) {
  out += char('0' + n / 10);
  out += char('0' + n % 10);
}

}  // namespace

std::string FormatGeneralNumber(double value) {
  if (std::isnan(value)) return "#NUM!";
  if (std::isinf(value)) return "#NUM!";
  if (value == 0) return "0";
  // Whole numbers of up to 15 digits, the most common case, spell as they are.
  if (std::fabs(value) < 1e15 && value == std::trunc(value)) {
    char buf[24];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, (long long)value).ptr);
  }
  // Round to 15 significant digits first; the exponent is that of the rounded value.
  // The shortest form that reads back exactly is already that rounding when
  // it has 15 digits or fewer, and it costs far less than a fixed precision.
  // Not so for subnormals, which have fewer digits of their own (and
  // libstdc++ 12 also rounds them wrongly at a fixed precision): printf.
  char buf[64];
  const char* sci;
  if (!std::isnormal(value)) {
    sci = buf + std::snprintf(buf, sizeof buf, "%.14e", value);
  } else {
    sci = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific).ptr;
    const std::string_view shortest(buf, size_t(sci - buf));
    size_t mantissa_digits = 0;
    for (char c : shortest.substr(0, shortest.find('e')))
      if (c >= '0' && c <= '9') ++mantissa_digits;
    if (mantissa_digits > 15)
      sci = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14).ptr;
  }
  const std::string_view s(buf, size_t(sci - buf));
  const size_t e = s.find('e');
  int exp10 = 0;
  std::from_chars(s.data() + e + (s[e + 1] == '+' ? 2 : 1), s.data() + s.size(), exp10);
  std::string digits;
  for (size_t i = 0; i < e; ++i)
    if (std::isdigit(uint8_t(s[i]))) digits.push_back(s[i]);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out;
  if (value < 0) out += '-';
  if (exp10 >= 15 || exp10 < -4) {
    out += digits[0];
    if (digits.size() > 1) {
      out += '.';
      out.append(digits, 1);
    }
    out += 'E';
    out += exp10 < 0 ? '-' : '+';
    if (std::abs(exp10) < 10) out += '0';
    AppendNumber(out, std::abs(exp10));
    return out;
  }
  if (exp10 < 0) {
    out += "0.";
    out.append(size_t(-exp10 - 1), '0');
    out += digits;
    return out;
  }
  const size_t int_len = size_t(exp10) + 1;
  if (digits.size() <= int_len) {
    out += digits;
    out.append(int_len - digits.size(), '0');
    return out;
  }
  out.append(digits, 0, int_len);
  out += '.';
  out.append(digits, int_len);
  return out;
}

namespace {

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = unsigned(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = (long long)yoe + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}

}  // namespace

std::string FormatDateSerial(double serial, bool date1904) {
  if (!std::isfinite(serial) || serial < 0 || serial >= 2958466) return "";
  long long days = (long long)std::floor(serial);
  long long seconds = std::llround((serial - double(days)) * 86400.0);
  if (seconds >= 86400) {
    ++days;
    seconds -= 86400;
  }
  std::string time;
  if (seconds > 0 || (!date1904 && days == 0)) {
    AppendNumber(time, seconds / 3600);
    time += ':';
    AppendTwoDigits(time, seconds / 60 % 60);
    time += ':';
    AppendTwoDigits(time, seconds % 60);
  }
  // Day 0 of the 1900 system is no date: the value is a time of day.
  if (!date1904 && days == 0) return time;
  long long y;
  unsigned m, d;
  if (date1904) {
    CivilFromDays(days - 24107, y, m, d);  // 1904-01-01 is day 0
  } else if (days == 60) {
    // The 1900 system counts a 29 February 1900 that never was.
    y = 1900, m = 2, d = 29;
  } else {
    CivilFromDays(days - (days < 60 ? 25568 : 25569), y, m,
                  d);  // 1899-12-31 / 1899-12-30 are day 0
  }
  std::string out;
  out.reserve(20);
  AppendNumber(out, y);
  out += '-';
  AppendNumber(out, m);
  out += '-';
  AppendNumber(out, d);
  if (!time.empty()) {
    out += ' ';
    out += time;
  }
  return out;
}

bool IsBuiltinDateFormat(int index) {
  // 14-22 and 45-47 everywhere; 27-36 and 50-58 are the East Asian date formats.
  return (index >= 14 && index <= 22) || (index >= 45 && index <= 47) ||
         (index >= 27 && index <= 36) || (index >= 50 && index <= 58);
}

bool IsDateFormatCode(std::string_view code) {
  for (size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    if (c == '"') {
      const size_t end = code.find('"', i + 1);
      if (end == std::string_view::npos) return false;
      i = end;
    } else if (c == '\\' || c == '_' || c == '*') {
      ++i;  // escaped, spacing or fill character
    } else if (c == '[') {
      const size_t end = code.find(']', i + 1);
      if (end == std::string_view::npos) return false;
      // Elapsed time ([h], [mm], [ss]) is a time; colours and locales are not.
      const std::string_view inner = code.substr(i + 1, end - i - 1);
      if (!inner.empty() && inner.find_first_not_of("hHmMsS") == std::string_view::npos)
        return true;
      i = end;
    } else if (c == ';') {
      return false;  // only the first section decides
    } else {
      switch (text::LowerAscii(c)) {
        case 'y':
        case 'm':
        case 'd':
        case 'h':
        case 's': return true;
        default: break;
      }
    }
  }
  return false;
}

std::string NumberText(double value, bool shows_date, bool date1904) {
  if (shows_date) {
    std::string date = FormatDateSerial(value, date1904);
    if (!date.empty()) return date;
  }
  return FormatGeneralNumber(value);
}

bool DateFormats::Decide(const TypedCell& cell) {
  const int id = cell.format_id;
  const auto decide = [&] {
    return cell.format_code.empty() ? IsBuiltinDateFormat(id) : IsDateFormatCode(cell.format_code);
  };
  if (id >= 0 && id < 4096) {
    if (small_.size() <= size_t(id)) small_.resize(size_t(id) + 1, -1);
    int8_t& known = small_[size_t(id)];
    if (known < 0) known = decide() ? 1 : 0;
    return known == 1;
  }
  const auto it = large_.find(id);
  if (it != large_.end()) return it->second;
  return large_.emplace(id, decide()).first->second;
}

std::string CellText(const TypedCell& cell, bool shows_date, bool date1904) {
  switch (cell.type) {
    case TypedCell::Type::Text:
    case TypedCell::Type::Error: return cell.text;
    case TypedCell::Type::Number: return NumberText(cell.number, shows_date, date1904);
    case TypedCell::Type::Boolean: return BooleanText(cell.boolean);
    case TypedCell::Type::Empty: break;
  }
  return "";
}

}  // namespace xb::sheet
