#include "db/connection_test.h"
#include "operator/texts.h"

namespace xb::db {

bool TestConnection(DbSession& session, Operator& op, const ConnectionSettings& settings) {
  // Closing and setting the string stay outside the protected part: their
  // failures go to the caller's default error report.
  if (session.myconnection.isOpen()) session.myconnection.close();
  session.myconnection.setConnectionString(BuildConnectionString(settings));
  try {
    session.myconnection.open();
    MessageBox box;
    box.text = texts::kConnected;
    box.caption = texts::kInformation;
    box.icon = Icon::Information;
    box.modality = Modality::Owned;
    op.showMessage(box);
    return true;
  } catch (const DbError& e) {
    // A failed test is silent by design; the caller clears the choice. A
    // server that never answered is said, though: the wait was long enough
    // for the operator to wonder.
    if (e.kind() == DbError::Kind::ConnectTimeout) {
      MessageBox box;
      box.text = texts::kConnectTimedOut;
      box.caption = texts::kConnectTimeoutCaption;
      box.icon = Icon::Error;
      box.modality = Modality::Owned;
      op.showMessage(box);
    }
    return false;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace xb::db
