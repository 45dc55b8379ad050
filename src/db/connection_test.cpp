#include "db/connection_test.h"

namespace xb::db {

ConnectionTestOutcome TestConnection(DbSession& session, const ConnectionSettings& settings) {
  // Closing and setting the string stay outside the protected part: their
  // failures go to the caller's default error report.
  if (session.myconnection.isOpen()) session.myconnection.close();
  session.myconnection.setConnectionString(BuildConnectionString(settings));
  try {
    session.myconnection.open();
    return ConnectionTestOutcome::Connected;
  } catch (const DbError& e) {
    return e.kind() == DbError::Kind::ConnectTimeout ? ConnectionTestOutcome::TimedOut
                                                     : ConnectionTestOutcome::Failed;
  } catch (const std::exception&) {
    return ConnectionTestOutcome::Failed;
  }
}

}  // namespace xb::db
