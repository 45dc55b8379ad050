#pragma once
// The Oracle dialect the program speaks, for engines whose database is not
// an Oracle server. The program's statements use:
//   user_tables (TABLE_NAME), user_tab_columns (TABLE_NAME, COLUMN_NAME,
//   DATA_TYPE, COLUMN_ID, NULLABLE), user_sequences (SEQUENCE_NAME,
//   MIN_VALUE, MAX_VALUE, INCREMENT_BY, LAST_NUMBER) and dual (DUMMY), names
//   in upper case;
//   NAME.nextval / NAME.currval (the same value for every nextval of one
//   sequence in one statement; currval the session's last value);
//   to_date(text, mask) and to_char(date, mask) with masks of yyyy, mm, dd,
//   hh24, hh, mi, ss and separators; to_number(text);
//   '' as the empty value; `update T set (A,B)=(select ... from dual ) where`.
// Each engine says how its own database spells these; what every engine
// needs alike is here: finding sequence references in code, dates by mask,
// telling data statements from those that change the schema.

#include <cstddef>
#include <string>
#include <vector>

#include "db/sql_tokens.h"

namespace xb::db::oracle {

using ::xb::db::IsIdentChar;
using ::xb::db::IsIdentStart;

// INSERT, UPDATE, DELETE, SELECT (a LeadingVerb): statements that leave the
// schema alone.
bool IsDataVerb(const std::string& verb);
inline bool IsDataStatement(const std::string& sql) { return IsDataVerb(LeadingVerb(sql)); }

// ---- dates ---------------------------------------------------------------

struct DateTime {
  int year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

bool Valid(const DateTime& d);
// The stored form of a date: yyyy-mm-dd, with hh:mm:ss only when the time is
// not midnight.
std::string Canonical(const DateTime& d);
// Parses text by an Oracle format mask (yyyy, mm, dd, hh24, hh, mi, ss and
// literal separators). Numbers may have fewer digits than the mask.
bool ParseByMask(const std::string& text, const std::string& mask, DateTime& out);
// Reads a stored date: yyyy-mm-dd, optionally followed by hh:mm:ss.
bool ParseStored(const std::string& text, DateTime& out);
std::string FormatByMask(const DateTime& d, const std::string& mask);

// ---- sequences -----------------------------------------------------------

struct SequenceUse {
  size_t begin, end;  // the span of "NAME . NEXTVAL" in the text
  std::string name;   // upper-cased
  bool next;
};

// Finds NAME.nextval / NAME.currval in code (blanks around the dot allowed;
// never inside literals or comments; schema.NAME.nextval is not one).
std::vector<SequenceUse> FindSequenceUses(const std::string& sql);

// The positions of the '?' parameter markers in code, in order.
std::vector<size_t> FindMarkers(const std::string& sql);

}  // namespace xb::db::oracle
