#include "db/connection_test.h"

namespace xb::db {

bool TestConnection(DbSession& session, Operator& op, const ConnectionSettings& settings) {
  // Closing and setting the string stay outside the protected part: their
  // failures go to the caller's default error report.
  if (session.myconnection.isOpen()) session.myconnection.close();
  session.myconnection.setConnectionString(BuildConnectionString(settings));
  try {
    session.myconnection.open();
    MessageBox box;
    box.text = "当前数据库联系成功!";
    box.caption = "提示信息";
    box.icon = Icon::Information;
    box.modality = Modality::Owned;
    op.showMessage(box);
    return true;
  } catch (const std::exception&) {
    // A failed test is silent by design; the caller clears the choice.
    return false;
  }
}

}  // namespace xb::db
