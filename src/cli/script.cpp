#include "cli/script.h"

#include <cctype>
#include <set>
#include <string_view>
#include <vector>

#include "db/sql_text.h"
#include "text/ascii.h"

namespace xb::cli {
namespace {

using text::IsBlank;

// What each character of a text is to the database: code, inside a string
// literal or quoted name, or inside a comment.
enum class Role : char { Comment, Code, Quoted };

std::vector<Role> Roles(const std::string& sql) {
  std::vector<Role> role(sql.size(), Role::Comment);
  db::WalkSql(
      sql, [&](size_t i) { role[i] = Role::Code; },
      [&](size_t begin, size_t end, bool) {
        for (size_t i = begin; i < end; ++i) role[i] = Role::Quoted;
      });
  return role;
}

// Blank code or comment: what may stand around a statement without being one.
bool Ignorable(const std::string& sql, const std::vector<Role>& role, size_t i) {
  return role[i] == Role::Comment || (role[i] == Role::Code && IsBlank(sql[i]));
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
  const std::vector<Role> role = Roles(sql);

  std::vector<std::string> statements;
  size_t start = 0;  // where the statement being collected begins
  auto finish = [&](size_t end) {
    // Statements that are only blanks and comments are left out.
    for (size_t i = start; i < end; ++i)
      if (!Ignorable(sql, role, i)) {
        while (end > start && sql[end - 1] == '\n') --end;
        statements.push_back(sql.substr(start, end - start));
        break;
      }
  };
  for (size_t begin = 0; begin < sql.size();) {
    const size_t eol = sql.find('\n', begin);
    const std::string_view line(sql.data() + begin, eol - begin);
    const size_t first = line.find('/');
    if (text::Trimmed(line) == "/" && role[begin + first] == Role::Code) {
      // A line holding only "/" ends the statement (as in SQL*Plus), where it
      // is code.
      finish(begin);
      start = eol + 1;
    } else if (role[eol] == Role::Code) {
      // The line ends outside a literal or block comment: a ';' in code
      // followed only by blanks or a comment ends the statement.
      size_t k = eol;
      while (k > begin && Ignorable(sql, role, k - 1)) --k;
      if (k > begin && sql[k - 1] == ';' && role[k - 1] == Role::Code) {
        finish(k - 1);
        start = eol + 1;
      }
    }
    begin = eol + 1;
  }
  finish(sql.size());
  return statements;
}

bool ReturnsRows(const std::string& statement) {
  // The first word, after blanks, comments and opening parentheses; and the
  // code, upper-cased, for a RETURNING clause.
  std::string code;
  size_t first = std::string::npos;
  db::WalkSql(
      statement,
      [&](size_t i) {
        const char c = statement[i];
        if (first == std::string::npos && !IsBlank(c) && c != '(') first = i;
        code += text::UpperAscii(c);
      },
      [&](size_t begin, size_t, bool) {
        if (first == std::string::npos) first = begin;
      });
  std::string word;
  for (size_t i = first;
       i < statement.size() && std::isalpha(static_cast<unsigned char>(statement[i])); ++i)
    word += text::UpperAscii(statement[i]);
  static const std::set<std::string> kNoRows = {
      "INSERT",   "UPDATE",   "DELETE",    "MERGE",   "CREATE", "DROP",    "ALTER",
      "TRUNCATE", "GRANT",    "REVOKE",    "COMMENT", "RENAME", "BEGIN",   "DECLARE",
      "COMMIT",   "ROLLBACK", "SAVEPOINT", "RELEASE", "LOCK",   "ANALYZE", "VACUUM",
      "REINDEX",  "ATTACH",   "DETACH",    "SET",     "END",    "PURGE"};
  if (!kNoRows.count(word)) return true;
  if (word != "INSERT" && word != "UPDATE" && word != "DELETE") return false;
  // A data change with RETURNING (outside literals and comments) gives rows.
  auto word_char = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  for (size_t at = code.find("RETURNING"); at != std::string::npos;
       at = code.find("RETURNING", at + 1)) {
    const size_t after = at + 9;
    if ((at == 0 || !word_char(code[at - 1])) && (after >= code.size() || !word_char(code[after])))
      return true;
  }
  return false;
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
