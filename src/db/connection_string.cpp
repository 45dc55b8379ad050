#include "db/connection_string.h"

#include "db/errors.h"
#include "text/ascii.h"

namespace xb::db {
namespace {

bool NeedsQuoting(const std::string& value) {
  if (value.empty()) return false;
  if (static_cast<unsigned char>(value.front()) <= ' ' ||
      static_cast<unsigned char>(value.back()) <= ' ')
    return true;
  return value.find_first_of(";=\"'{}") != std::string::npos;
}

// A value that could change the string's meaning goes between double
// quotes, inner ones doubled, so that it parses back exactly.
std::string Value(const std::string& value) {
  if (!NeedsQuoting(value)) return value;
  std::string quoted = "\"";
  for (const char c : value) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

// Blanks around a key or between separators: spaces and tabs only, as the
// connection-string syntax has them (a line break is part of the text).
std::string TrimSpacesAndTabs(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  return text.substr(b, e - b);
}

// ODBC: a value holding ';', braces or blanks at its ends goes in braces,
// with every '}' doubled.
std::string OdbcValue(const std::string& value) {
  const bool plain = value.find_first_of(";{}=") == std::string::npos && !value.empty() &&
                     value.front() != ' ' && value.back() != ' ';
  if (plain || value.empty()) return value;
  std::string braced = "{";
  for (const char c : value) {
    braced += c;
    if (c == '}') braced += '}';
  }
  return braced + "}";
}

}  // namespace

std::string BuildConnectionString(const ConnectionSettings& settings) {
  return "Provider=MSDAORA.1;password=" + Value(settings.password) +
         ";user id=" + Value(settings.user) + ";data source=" + Value(settings.data_source) +
         ";Persist Security Info=True";
}

std::map<std::string, std::string> ParseConnectionString(const std::string& text) {
  std::map<std::string, std::string> values;
  size_t i = 0;
  while (i < text.size()) {
    const size_t eq = text.find('=', i);
    const size_t semi = text.find(';', i);
    if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
      // A piece without "=": blanks between separators are allowed.
      const std::string piece = TrimSpacesAndTabs(
          text.substr(i, semi == std::string::npos ? std::string::npos : semi - i));
      if (!piece.empty()) throw DbError("malformed connection string near '" + piece + "'");
      if (semi == std::string::npos) break;
      i = semi + 1;
      continue;
    }
    const std::string key = text::LowerCased(TrimSpacesAndTabs(text.substr(i, eq - i)));
    size_t j = eq + 1;
    std::string value;
    size_t k = j;
    while (k < text.size() && text[k] == ' ') ++k;
    if (k < text.size() && (text[k] == '"' || text[k] == '\'')) {
      const char quote = text[k];
      size_t m = k + 1;
      for (;;) {
        if (m >= text.size()) throw DbError("unterminated quoted value in the connection string");
        if (text[m] == quote) {
          if (m + 1 < text.size() && text[m + 1] == quote) {
            value += quote;
            m += 2;
            continue;
          }
          ++m;
          break;
        }
        value += text[m++];
      }
      while (m < text.size() && text[m] == ' ') ++m;
      if (m < text.size() && text[m] != ';')
        throw DbError("malformed connection string after a quoted value");
      j = m;
    } else {
      const size_t end = text.find(';', j);
      value = text.substr(j, end == std::string::npos ? std::string::npos : end - j);
      j = end == std::string::npos ? text.size() : end;
    }
    values[key] = value;
    i = j < text.size() ? j + 1 : j;
  }
  return values;
}

std::string BuildOdbcConnectString(const std::string& dsn, const std::string& user,
                                   const std::string& password) {
  return "DSN=" + OdbcValue(dsn) + ";UID=" + OdbcValue(user) + ";PWD=" + OdbcValue(password) + ";";
}

}  // namespace xb::db
