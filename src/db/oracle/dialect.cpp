#include "db/oracle/dialect.h"

#include <cctype>
#include <cstdio>
#include <string_view>

#include "db/sql_text.h"
#include "text/ascii.h"

namespace xb::db::oracle {

using text::UpperCased;

bool IsDataVerb(const std::string& verb) {
  return verb == "INSERT" || verb == "UPDATE" || verb == "DELETE" || verb == "SELECT";
}

namespace {
bool LeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
}  // namespace

bool Valid(const DateTime& d) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12) return false;
  const int days = kDays[d.month - 1] + (d.month == 2 && LeapYear(d.year) ? 1 : 0);
  return d.day >= 1 && d.day <= days && d.hour >= 0 && d.hour < 24 && d.minute >= 0 &&
         d.minute < 60 && d.second >= 0 && d.second < 60;
}

// The stored form of a date: yyyy-mm-dd, with hh:mm:ss only when the time is
// not midnight.
namespace {

// printf's %0<width>d: the sign first, then zeros up to the width.
void AppendPadded(std::string& out, int value, int width) {
  char digits[12];
  int n = 0;
  unsigned u = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  do {
    digits[n++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u);
  if (value < 0) out += '-';
  for (int i = n + (value < 0 ? 1 : 0); i < width; ++i) out += '0';
  while (n) out += digits[--n];
}

}  // namespace

// Made for every date an import stores: spelled by hand, not by snprintf.
std::string Canonical(const DateTime& d) {
  std::string out;
  out.reserve(19);
  AppendPadded(out, d.year, 4);
  out += '-';
  AppendPadded(out, d.month, 2);
  out += '-';
  AppendPadded(out, d.day, 2);
  if (d.hour || d.minute || d.second) {
    out += ' ';
    AppendPadded(out, d.hour, 2);
    out += ':';
    AppendPadded(out, d.minute, 2);
    out += ':';
    AppendPadded(out, d.second, 2);
  }
  return out;
}

// Parses text by an Oracle format mask (yyyy, mm, dd, hh24, hh, mi, ss and
// literal separators). Numbers may have fewer digits than the mask.
bool ParseByMask(const std::string& text, const std::string& mask, DateTime& out) {
  // Called for every date a statement stores: the mask is read in place,
  // its letters compared without regard to case.
  auto at = [&](size_t m, std::string_view token) {
    if (mask.size() - m < token.size()) return false;
    for (size_t i = 0; i < token.size(); ++i)
      if (::xb::text::UpperAscii(mask[m + i]) != token[i]) return false;
    return true;
  };
  size_t t = 0, m = 0;
  DateTime d;
  auto number = [&](size_t max_digits, int& target) {
    while (t < text.size() && text[t] == ' ') ++t;
    size_t digits = 0;
    int value = 0;
    while (t < text.size() && digits < max_digits &&
           std::isdigit(static_cast<unsigned char>(text[t]))) {
      value = value * 10 + (text[t] - '0');
      ++t;
      ++digits;
    }
    if (digits == 0) return false;
    target = value;
    return true;
  };
  while (m < mask.size()) {
    if (at(m, "YYYY")) {
      if (!number(4, d.year)) return false;
      m += 4;
    } else if (at(m, "HH24")) {
      if (!number(2, d.hour)) return false;
      m += 4;
    } else if (at(m, "MM")) {
      if (!number(2, d.month)) return false;
      m += 2;
    } else if (at(m, "DD")) {
      if (!number(2, d.day)) return false;
      m += 2;
    } else if (at(m, "HH")) {
      if (!number(2, d.hour)) return false;
      m += 2;
    } else if (at(m, "MI")) {
      if (!number(2, d.minute)) return false;
      m += 2;
    } else if (at(m, "SS")) {
      if (!number(2, d.second)) return false;
      m += 2;
    } else {
      // A separator of the mask matches any one separator of the text.
      if (t >= text.size() || std::isalnum(static_cast<unsigned char>(text[t]))) return false;
      ++t;
      ++m;
    }
  }
  while (t < text.size() && text[t] == ' ') ++t;
  if (t != text.size()) return false;
  out = d;
  return Valid(d);
}

// Reads a stored date: yyyy-mm-dd, optionally followed by hh:mm:ss.
bool ParseStored(const std::string& text, DateTime& out) {
  if (ParseByMask(text, "yyyy-mm-dd hh24:mi:ss", out)) return true;
  return ParseByMask(text, "yyyy-mm-dd", out);
}

std::string FormatByMask(const DateTime& d, const std::string& mask_in) {
  const std::string mask = UpperCased(mask_in);
  std::string out;
  char buffer[8];
  for (size_t m = 0; m < mask.size();) {
    auto put = [&](const char* fmt, int v, size_t width) {
      std::snprintf(buffer, sizeof buffer, fmt, v);
      out += buffer;
      m += width;
    };
    if (mask.compare(m, 4, "YYYY") == 0)
      put("%04d", d.year, 4);
    else if (mask.compare(m, 4, "HH24") == 0)
      put("%02d", d.hour, 4);
    else if (mask.compare(m, 2, "MM") == 0)
      put("%02d", d.month, 2);
    else if (mask.compare(m, 2, "DD") == 0)
      put("%02d", d.day, 2);
    else if (mask.compare(m, 2, "HH") == 0)
      put("%02d", d.hour % 12 == 0 ? 12 : d.hour % 12, 2);
    else if (mask.compare(m, 2, "MI") == 0)
      put("%02d", d.minute, 2);
    else if (mask.compare(m, 2, "SS") == 0)
      put("%02d", d.second, 2);
    else
      out += mask_in[m++];
  }
  return out;
}

std::vector<SequenceUse> FindSequenceUses(const std::string& sql) {
  std::vector<SequenceUse> uses;
  if (sql.find('.') == std::string::npos) return uses;
  const std::vector<SqlToken> t = SqlTokens(sql);
  for (size_t i = 0; i + 2 < t.size(); ++i) {
    if (t[i].kind != SqlToken::Kind::Word || !t[i + 1].IsPunct(".") ||
        !(t[i + 2].Is("NEXTVAL") || t[i + 2].Is("CURRVAL")))
      continue;
    // schema.seq.nextval: not ours.
    if (i > 0 && t[i - 1].IsPunct(".") && t[i - 1].end == t[i].begin) continue;
    uses.push_back({t[i].begin, t[i + 2].end, UpperCased(t[i].text), t[i + 2].Is("NEXTVAL")});
    i += 2;
  }
  return uses;
}

std::vector<size_t> FindMarkers(const std::string& sql) {
  std::vector<size_t> markers;
  if (sql.find('?') == std::string::npos) return markers;
  ForEachCodeChar(sql, [&](size_t i) {
    if (sql[i] == '?') markers.push_back(i);
  });
  return markers;
}

}  // namespace xb::db::oracle
