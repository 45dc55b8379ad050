#pragma once
#include "db/connection.h"
#include "db/connection_string.h"
#include "operator/operator.h"

namespace xb::db {

// The connection test without the window's controls: closes an open
// connection, sets the connection string built from the settings, opens it
// and shows the success box. Returns true on success; a failed open is
// silent (false). Failures of close or of setting the string escape to the
// caller's default error report.
bool TestConnection(DbSession& session, Operator& op, const ConnectionSettings& settings);

}  // namespace xb::db
