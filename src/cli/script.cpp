#include "cli/script.h"

#include <algorithm>
#include <set>
#include <string_view>
#include <vector>

#include "db/sql_text.h"
#include "db/sql_tokens.h"
#include "text/ascii.h"

namespace xb::cli {
namespace {

using db::SqlToken;

// Whether nothing but blanks and comments stands from from to the line
// feed at eol, and no comment runs on past it.
bool RestOfLineIgnorable(const std::string& sql, size_t from, size_t eol) {
  for (size_t k = from; k < eol;) {
    const db::SqlPiece piece = db::SqlPieceAt(sql, k);
    if (piece.end > eol) return false;
    k = piece.end;
  }
  return true;
}

}  // namespace

std::vector<std::string> SplitScript(const std::string& script) {
  // Every line ends in LF here, whatever ended it in the file (CR LF, CR, LF
  // or the end of the file), so that comments end where lines do.
  std::string sql;
  sql.reserve(script.size() + 1);
  text::ForEachLine(script, [&](std::string_view line) {
    sql += line;
    sql += '\n';
  });
  const std::vector<SqlToken> t = db::SqlTokens(sql);

  std::vector<std::string> statements;
  size_t start = 0;  // where the statement being collected begins
  auto finish = [&](size_t end) {
    // Statements that are only blanks and comments are left out.
    const auto first =
        std::lower_bound(t.begin(), t.end(), start,
                         [](const SqlToken& token, size_t at) { return token.begin < at; });
    if (first == t.end() || first->begin >= end) return;
    while (end > start && sql[end - 1] == '\n') --end;
    statements.push_back(sql.substr(start, end - start));
  };
  for (size_t i = 0; i < t.size(); ++i) {
    const SqlToken& token = t[i];
    const size_t eol = sql.find('\n', token.end);
    if (token.IsPunct("/")) {
      // A line holding only "/" ends the statement (as in SQL*Plus).
      const size_t line = sql.rfind('\n', token.begin) + 1;  // 0 on the first line
      if (text::Trimmed(std::string_view(sql).substr(line, eol - line)) != "/") continue;
      finish(line);
      start = eol + 1;
    } else if (token.IsPunct(";") && (i + 1 == t.size() || t[i + 1].begin > eol) &&
               RestOfLineIgnorable(sql, token.end, eol)) {
      // A ';' followed only by blanks or a comment to the end of its line.
      finish(token.begin);
      start = eol + 1;
    }
  }
  finish(sql.size());
  return statements;
}

bool ReturnsRows(const std::string& statement) {
  const std::vector<SqlToken> t = db::SqlTokens(statement);
  const std::string word = db::LeadingVerb(t);
  static const std::set<std::string> kNoRows = {
      "INSERT",   "UPDATE",   "DELETE",    "MERGE",   "CREATE", "DROP",    "ALTER",
      "TRUNCATE", "GRANT",    "REVOKE",    "COMMENT", "RENAME", "BEGIN",   "DECLARE",
      "COMMIT",   "ROLLBACK", "SAVEPOINT", "RELEASE", "LOCK",   "ANALYZE", "VACUUM",
      "REINDEX",  "ATTACH",   "DETACH",    "SET",     "END",    "PURGE"};
  if (!kNoRows.count(word)) return true;
  if (word != "INSERT" && word != "UPDATE" && word != "DELETE") return false;
  // A data change with RETURNING (outside literals and comments) gives rows.
  return std::any_of(t.begin(), t.end(),
                     [](const SqlToken& token) { return token.Is("RETURNING"); });
}

std::string EscapeField(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace xb::cli
