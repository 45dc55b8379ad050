// A server that takes the connection but never answers: connecting gives up
// after the alias's connect timeout and the connection test tells it apart.

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
  const auto start = std::chrono::steady_clock::now();
  // Told apart from any other failure: the fronts say this one.
  EXPECT_EQ(TestConnection(session, {"SILENT", "scott", "tiger"}), ConnectionTestOutcome::TimedOut);
  const auto waited = std::chrono::steady_clock::now() - start;
  close(listener);
  EXPECT_LT(waited, std::chrono::seconds(10));
  EXPECT_FALSE(session.myconnection.isOpen());
}

}  // namespace
}  // namespace xb::db::test
