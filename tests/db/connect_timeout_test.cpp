// A server that takes the connection but never answers: connecting gives up
// after the alias's connect timeout and the connection test says so.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "db/connection_test.h"
#include "db/errors.h"
#include "db_fixture.h"

namespace xb::db::test {
namespace {

constexpr const char* kPsqlOdbc = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so";

struct BoxRecorder : Operator {
  std::vector<MessageBox> boxes;
  Answer showMessage(const MessageBox& box) override {
    boxes.push_back(box);
    return Answer::Ok;
  }
  OverwriteAnswer askOverwrite(const std::string&) override { return OverwriteAnswer::Abort; }
  std::optional<std::string> chooseWorkbook() override { return std::nullopt; }
  SilentProgress no_progress;
  ProgressSink& progress() override { return no_progress; }
  void letPendingMessagesRun() override {}
};

TEST_F(DbFolder, ASilentServerIsGivenUpAndSaidSo) {
  if (access(kPsqlOdbc, R_OK) != 0) GTEST_SKIP() << "psqlODBC (odbc-postgresql) is not installed";
  // Listens, so connecting succeeds at the TCP level, and never answers.
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::ofstream(dir_ / "odbcinst.ini") << "[PostgreSQL]\nDriver=" << kPsqlOdbc << "\n";
  std::ofstream(dir_ / "odbc.ini")
      << "[XBSILENT]\nDriver=PostgreSQL\nServername=127.0.0.1\nPort=" << ntohs(address.sin_port)
      << "\nDatabase=x\n";
  std::ofstream(dir_ / "aliases.ini")
      << "[SILENT]\nengine=odbc\ntarget=XBSILENT\nconnect_timeout=2\n";

  DbSession session;
  BoxRecorder op;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(TestConnection(session, op, {"SILENT", "scott", "tiger"}));
  const auto waited = std::chrono::steady_clock::now() - start;
  close(listener);
  EXPECT_LT(waited, std::chrono::seconds(10));
  ASSERT_EQ(op.boxes.size(), 1u);
  EXPECT_EQ(op.boxes[0].caption, "连接超时");
  EXPECT_EQ(op.boxes[0].text,
            "数据库服务器没有响应,已放弃连接!\r请确认服务器已经启动并且网络畅通。");
}

}  // namespace
}  // namespace xb::db::test
