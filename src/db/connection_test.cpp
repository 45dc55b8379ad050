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
  } catch (const DbError& e) {
    // A failed test is silent by design; the caller clears the choice. A
    // server that never answered is said, though: the wait was long enough
    // for the operator to wonder.
    if (e.kind() == DbError::Kind::ConnectTimeout) {
      MessageBox box;
      box.text = "数据库服务器没有响应,已放弃连接!\r请确认服务器已经启动并且网络畅通。";
      box.caption = "连接超时";
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
