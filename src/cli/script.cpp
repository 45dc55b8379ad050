#include "cli/script.h"

#include <cctype>
#include <set>

#include "db/sql_text.h"

namespace xb::cli {
namespace {

bool IsBlankOrComment(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
      while (i < text.size() && text[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      const auto end = text.find("*/", i + 2);
      if (end == std::string::npos) return true;
      i = end + 2;
    } else {
      return false;
    }
  }
  return true;
}

std::string LineTrimmed(const std::string& line) {
  size_t b = 0, e = line.size();
  while (b < e && std::isspace(static_cast<unsigned char>(line[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(line[e - 1]))) --e;
  return line.substr(b, e - b);
}

}  // namespace

std::vector<std::string> SplitScript(const std::string& script) {
  std::vector<std::string> statements;
  std::string current;
  enum class State { Code, Single, Double, QQuote, LineComment, BlockComment } state = State::Code;
  char q_close = 0;  // the closing delimiter of a q'[...]' literal

  auto finish = [&] {
    if (!IsBlankOrComment(current)) statements.push_back(current);
    current.clear();
  };

  size_t pos = 0;
  while (pos <= script.size()) {
    size_t eol = script.find('\n', pos);
    if (eol == std::string::npos) eol = script.size();
    std::string line = script.substr(pos, eol - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();

    // A line holding only "/" ends the statement (as in SQL*Plus), but only
    // where it is not inside a quoted text or a comment.
    if (state == State::Code && LineTrimmed(line) == "/") {
      finish();
    } else {
      // Find the last ';' of the line that stands in code and is followed
      // only by blanks (or a line comment).
      size_t terminator = std::string::npos;
      for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        switch (state) {
          case State::Code:
            if (c == '\'' || c == '"') terminator = std::string::npos;
            if (c == '\'' && (q_close = xb::db::QuoteDelimiterAt(line, i)) != 0) {
              state = State::QQuote;
              i += 1;
            } else if (c == '\'')
              state = State::Single;
            else if (c == '"')
              state = State::Double;
            else if (c == '-' && i + 1 < line.size() && line[i + 1] == '-')
              state = State::LineComment;
            else if (c == '/' && i + 1 < line.size() && line[i + 1] == '*') {
              state = State::BlockComment;
              ++i;
            } else if (c == ';')
              terminator = i;
            else if (!std::isspace(static_cast<unsigned char>(c)))
              terminator = std::string::npos;
            break;
          case State::Single:
            if (c == '\'') state = State::Code;
            break;
          case State::Double:
            if (c == '"') state = State::Code;
            break;
          case State::QQuote:
            if (c == q_close && i + 1 < line.size() && line[i + 1] == '\'') {
              state = State::Code;
              ++i;
            }
            break;
          case State::LineComment: break;
          case State::BlockComment:
            if (c == '*' && i + 1 < line.size() && line[i + 1] == '/') {
              state = State::Code;
              ++i;
            }
            break;
        }
      }
      if (state == State::LineComment) state = State::Code;
      if (terminator != std::string::npos && state == State::Code) {
        current += line.substr(0, terminator);
        finish();
      } else {
        current += line;
        current += '\n';
      }
    }
    if (eol == script.size()) break;
    pos = eol + 1;
  }
  finish();
  // Drop the line feed that closed the statement's last line.
  for (auto& s : statements)
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return statements;
}

bool ReturnsRows(const std::string& statement) {
  size_t i = 0;
  // Skip blanks, comments and opening parentheses in front of the first word.
  while (i < statement.size()) {
    const char c = statement[i];
    if (std::isspace(static_cast<unsigned char>(c)) || c == '(') {
      ++i;
    } else if (c == '-' && i + 1 < statement.size() && statement[i + 1] == '-') {
      while (i < statement.size() && statement[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < statement.size() && statement[i + 1] == '*') {
      const auto end = statement.find("*/", i + 2);
      i = end == std::string::npos ? statement.size() : end + 2;
    } else {
      break;
    }
  }
  std::string word;
  while (i < statement.size() && std::isalpha(static_cast<unsigned char>(statement[i])))
    word += static_cast<char>(std::toupper(static_cast<unsigned char>(statement[i++])));
  static const std::set<std::string> kNoRows = {
      "INSERT",   "UPDATE",   "DELETE",    "MERGE",   "CREATE", "DROP",    "ALTER",
      "TRUNCATE", "GRANT",    "REVOKE",    "COMMENT", "RENAME", "BEGIN",   "DECLARE",
      "COMMIT",   "ROLLBACK", "SAVEPOINT", "RELEASE", "LOCK",   "ANALYZE", "VACUUM",
      "REINDEX",  "ATTACH",   "DETACH",    "SET",     "END",    "PURGE"};
  if (!kNoRows.count(word)) return true;
  if (word != "INSERT" && word != "UPDATE" && word != "DELETE") return false;
  // A data change with RETURNING (outside literals and comments) gives rows.
  std::string code;
  xb::db::ForEachCodeChar(statement, [&](size_t k) {
    code += static_cast<char>(std::toupper(static_cast<unsigned char>(statement[k])));
  });
  for (size_t at = code.find("RETURNING"); at != std::string::npos;
       at = code.find("RETURNING", at + 1)) {
    const bool starts =
        at == 0 || !(std::isalnum(static_cast<unsigned char>(code[at - 1])) || code[at - 1] == '_');
    const size_t after = at + 9;
    const bool ends =
        after >= code.size() ||
        !(std::isalnum(static_cast<unsigned char>(code[after])) || code[after] == '_');
    if (starts && ends) return true;
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
