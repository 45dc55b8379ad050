#include "db/sql_text.h"

#include "db/errors.h"

namespace xb::db {

void CheckSingleStatement(const std::string& sql, bool allow_trailing_semicolon) {
  // A NUL would cut the text short in the engine's own parser.
  if (sql.find('\0') != std::string::npos)
    throw DbError("the statement text holds a NUL character").because(Reason::NulInStatement);
  if (sql.find(';') == std::string::npos) return;
  size_t semicolon = std::string::npos;
  bool more = false;
  ForEachCodeChar(sql, [&](size_t i) {
    if (semicolon == std::string::npos) {
      if (sql[i] == ';') semicolon = i;
    } else if (!more && static_cast<unsigned char>(sql[i]) > ' ' && sql[i] != ';') {
      more = true;
    }
  });
  if (semicolon == std::string::npos) return;
  if (more)
    throw DbError("only one statement can be sent at a time: the text holds more after ';'")
        .because(Reason::MoreThanOneStatement);
  if (!allow_trailing_semicolon)
    throw DbError("invalid character: a statement must not end in ';'")
        .because(Reason::TrailingSemicolon);
}

}  // namespace xb::db
