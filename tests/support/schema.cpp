#include "support/schema.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "db/connection_string.h"
#include "support/query.h"

namespace xb::test {

void LoadSchema(db::Connection& connection, const std::string& script) {
  std::istringstream in(script);
  std::string line, statement;
  auto run = [&] {
    Execute(connection, statement);
    statement.clear();
  };
  while (std::getline(in, line)) {
    if (line.rfind("--", 0) == 0) continue;
    statement += line + "\n";
    if (!line.empty() && line.back() == ';') {
      statement.erase(statement.find_last_of(';'));
      run();
    }
  }
  if (statement.find_first_not_of(" \t\r\n") != std::string::npos) run();
}

void LoadSchemaFile(db::Connection& connection, const std::string& script_path) {
  std::ifstream in(script_path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the schema " + script_path);
  std::ostringstream text;
  text << in.rdbuf();
  LoadSchema(connection, text.str());
}

void MakeDatabase(const std::string& database, const std::string& script) {
  std::ofstream(database, std::ios::trunc).close();
  db::Connection connection;
  db::ConnectionSettings settings;
  settings.data_source = database;
  connection.setConnectionString(db::BuildConnectionString(settings));
  connection.open();
  LoadSchema(connection, script);
  connection.close();
}

}  // namespace xb::test
