#pragma once
#include <string>
#include <vector>

namespace xb::db {

// The data source names the driver manager knows (user and system); empty
// when unixODBC has none or cannot be asked.
std::vector<std::string> OdbcDataSources();

}  // namespace xb::db
