#pragma once
#include <map>
#include <string>

namespace xb::db {

struct ConnectionSettings {
  std::string data_source;
  std::string user;
  std::string password;
};

// "Provider=MSDAORA.1;password=P;user id=U;data source=D;Persist Security Info=True".
// A value holding ';', '=', quotes, braces or leading/trailing blanks is put
// between double quotes (inner ones doubled) so that it parses back exactly.
std::string BuildConnectionString(const ConnectionSettings& settings);
// Keys folded to lower case; DbError on a malformed string.
std::map<std::string, std::string> ParseConnectionString(const std::string& text);
// "DSN=..;UID=..;PWD=.." for SQLDriverConnect, values in braces where needed.
std::string BuildOdbcConnectString(const std::string& dsn, const std::string& user,
                                   const std::string& password);

}  // namespace xb::db
