#pragma once
// Values between the program's text forms and PostgreSQL's: what a column
// of a result reads as (the same text the other engines give for the same
// stored value), and the dates a statement's to_date stores.

#include <string>

namespace xb::db::postgres {

// Type oids of the values that need more than their server text.
inline constexpr unsigned kByteaOid = 17, kFloat4Oid = 700, kFloat8Oid = 701, kDateOid = 1082,
                          kTimestampOid = 1114, kTimestampTzOid = 1184, kNumericOid = 1700;

// A value of a result as the program shows it: numbers without trailing
// zeros after the point, binary floats to 15 significant digits (1E+20),
// bytes as upper-case hex, dates as yyyy-mm-dd with " hh:mm:ss" unless
// midnight (a timestamptz in the session's time zone, without its offset).
std::string ValueText(const char* value, int length, unsigned type);

// Reads text by an Oracle date mask the way Oracle's to_date does (the
// whole text, valid dates and times only). Where the column holds a time,
// a date with a time ("2024-02-29 13:45:30", a date-time cell) is taken
// with its time although the mask names only the date. On success out is
// "yyyy-mm-dd hh:mm:ss"; false when the text is no such date.
bool DateByMask(const std::string& text, const std::string& mask, bool column_keeps_time,
                std::string& out);

}  // namespace xb::db::postgres
