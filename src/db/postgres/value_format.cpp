#include "db/postgres/value_format.h"

#include <libpq-fe.h>

#include <cstdlib>

#include "db/oracle/dialect.h"
#include "db/value_text.h"

namespace xb::db::postgres {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "yyyy-mm-dd hh:mm:ss[.ffffff][+hh[:mm[:ss]]]": the offset cut off (the
// time is already the session zone's), the time too when it is midnight.
std::string TimestampText(std::string text, bool with_zone) {
  if (text.size() < 19 || text[10] != ' ' || text[13] != ':' || text[16] != ':') return text;
  size_t end = 19;
  if (end < text.size() && text[end] == '.')
    for (++end; end < text.size() && IsDigit(text[end]);) ++end;
  if (with_zone && end < text.size() && (text[end] == '+' || text[end] == '-')) {
    size_t zone = end + 1;
    while (zone < text.size() && (IsDigit(text[zone]) || text[zone] == ':')) ++zone;
    text.erase(end, zone - end);
  }
  if (end == 19 && text.compare(10, 9, " 00:00:00") == 0) text.erase(10, 9);
  return text;
}

}  // namespace

std::string ValueText(const char* value, int length, unsigned type) {
  std::string text(value, static_cast<size_t>(length));
  switch (type) {
    case kNumericOid:
      if (text.find('.') != std::string::npos && text.find_first_of("eE") == std::string::npos) {
        while (text.back() == '0') text.pop_back();
        if (text.back() == '.') text.pop_back();
        if (text == "-0") text = "0";
      }
      return text;
    case kFloat4Oid:
    case kFloat8Oid: {
      char* end = nullptr;
      const double number = std::strtod(text.c_str(), &end);
      return end && *end == '\0' && !text.empty() ? FloatText(number) : text;
    }
    case kByteaOid: {
      size_t size = 0;
      unsigned char* bytes =
          PQunescapeBytea(reinterpret_cast<const unsigned char*>(text.c_str()), &size);
      if (!bytes) return text;
      std::string hex = BlobText(bytes, size);
      PQfreemem(bytes);
      return hex;
    }
    case kTimestampOid: return TimestampText(std::move(text), false);
    case kTimestampTzOid: return TimestampText(std::move(text), true);
    default: return text;
  }
}

bool DateByMask(const std::string& text, const std::string& mask, bool column_keeps_time,
                std::string& out) {
  oracle::DateTime d;
  if (!oracle::ParseByMask(text, mask, d) &&
      !(column_keeps_time && oracle::ParseByMask(text, "yyyy-mm-dd hh24:mi:ss", d)))
    return false;
  out = oracle::FormatByMask(d, "yyyy-mm-dd hh24:mi:ss");
  return true;
}

}  // namespace xb::db::postgres
