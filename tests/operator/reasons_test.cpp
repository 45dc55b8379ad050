// The reasons the program gives for a failure: every code has its Chinese
// text in the catalogue, and a message of the database's own passes as the
// database wrote it.
#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <string>

#include "db/errors.h"
#include "operator/operator.h"
#include "operator/texts.h"
#include "sheet/sheet.h"

namespace xb {
namespace {

bool HasChinese(const std::string& text) {
  // Every CJK ideograph of the basic block starts with a byte E4 to E9.
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0xE4 && static_cast<unsigned char>(c) <= 0xE9) return true;
  return false;
}

TEST(Reasons, EveryCodeHasAChineseText) {
  for (int code = static_cast<int>(Reason::None) + 1; code <= static_cast<int>(Reason::Last);
       ++code) {
    const std::string text = texts::ReasonText(static_cast<Reason>(code), "X", 3, "");
    EXPECT_TRUE(HasChinese(text)) << "reason " << code << ": \"" << text << "\"";
  }
}

TEST(Reasons, TheProgramsOwnAreToldTheDatabasesKept) {
  // The database's own message: as it came.
  const db::DbError server("ORA-00942: table or view does not exist", 942);
  EXPECT_EQ(OperatorReason(server), "ORA-00942: table or view does not exist");
  // The program's own: Chinese, naming what it is about, with the words of
  // the client library where it gave some.
  EXPECT_EQ(
      OperatorReason(
          db::DbError("no such data source: 'SALES'").because(Reason::NoSuchDataSource, "SALES")),
      "数据源\"SALES\"不存在:它既不是别名,也不是ODBC数据源或已有的数据库文件。");
  EXPECT_EQ(OperatorReason(db::DbError("lost").because(Reason::ConnectionLost, {}, 0,
                                                       "server closed the connection")),
            "与数据库服务器的连接已经中断:server closed the connection");
  EXPECT_EQ(OperatorReason(db::NoRowSetError()), "该语句已经执行,但它不返回可以打开的记录。");
  EXPECT_EQ(OperatorReason(sheet::SheetError(Reason::FileUnreadable, "cannot open it", {}, ENOENT)),
            "无法读取该文件:文件或文件夹不存在。");
  // An error of no layer: its message.
  EXPECT_EQ(OperatorReason(std::runtime_error("plain")), "plain");
}

}  // namespace
}  // namespace xb
