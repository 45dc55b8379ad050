#include "support/query.h"

namespace xb::test {

namespace {

std::string Field(db::Query& q, int i) { return q.fieldIsNull(i) ? "<null>" : q.fieldText(i); }

}  // namespace

void Execute(db::Connection& connection, const std::string& sql) {
  db::Query q(connection);
  q.setSql(sql);
  q.execute();
}

Rows Select(db::Connection& connection, const std::string& sql) {
  db::Query q(connection);
  q.setSql(sql);
  q.open();
  Rows rows;
  for (q.first(); !q.eof(); q.next()) {
    std::vector<std::string> row;
    for (int i = 0; i < q.fieldCount(); ++i) row.push_back(Field(q, i));
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<std::string> Column(db::Connection& connection, const std::string& sql) {
  std::vector<std::string> values;
  for (auto& row : Select(connection, sql)) values.push_back(row.empty() ? "" : row[0]);
  return values;
}

std::string One(db::Connection& connection, const std::string& sql) {
  const auto values = Column(connection, sql);
  return values.size() == 1 ? values[0] : "<" + std::to_string(values.size()) + " rows>";
}

}  // namespace xb::test
