#pragma once
#include "db/connection.h"
#include "db/connection_string.h"

namespace xb::db {

// What a connection test came to; the front tells the operator.
enum class ConnectionTestOutcome {
  Connected,
  Failed,    // silent by design: the front clears the operation choice
  TimedOut,  // the server never answered: said, since the wait was long
};

// The connection test without the window's controls: closes an open
// connection, sets the connection string built from the settings and opens
// it. A failed open is an outcome, not an error; failures of close or of
// setting the string escape to the caller's default error report.
ConnectionTestOutcome TestConnection(DbSession& session, const ConnectionSettings& settings);

}  // namespace xb::db
