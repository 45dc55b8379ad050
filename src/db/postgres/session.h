#pragma once
// One connection to a PostgreSQL server and every wait for it. The session
// only sets a few settings (no object is made, so read-only roles and
// standbys can export). Every wait for the server has a limit (the alias's
// response_timeout on top of the lock wait): a server that stops answering
// is given up, its connection closed, and the server rolls back when it
// sees the close. A connection lost outside a transaction is made again.

#include <libpq-fe.h>

#include <functional>
#include <memory>
#include <string>

#include "db/engine.h"
#include "db/postgres/postgres_engine.h"

namespace xb::db::postgres {

// SQLSTATEs this engine gives its own failures (those of the server come
// with the server's): the connection broke; a commit whose outcome is not
// known.
inline constexpr const char* kConnectionLost = "08006";
inline constexpr const char* kCommitUnknown = "08007";

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

bool Ok(const PGresult* r);
// The server's message, with names it folded to lower case shown as the
// statement wrote them unquoted (Oracle's upper case).
std::string ServerMessage(const PGresult* result, PGconn* conn);
std::string SqlState(const PGresult* result);

class PgStream;

class Session {
 public:
  // Connects and sets the session up; DbError when it cannot.
  explicit Session(const EngineTarget& target);
  ~Session();  // the server rolls back what is open
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  PGconn* conn() const { return conn_; }
  bool inTransaction() const { return in_transaction_; }
  void setInTransaction(bool open) { in_transaction_ = open; }
  // Called when a lost connection was made again and set up: whatever was
  // known of the old session is forgotten.
  void onNewSession(std::function<void()> forget) { on_new_session_ = std::move(forget); }
  // The query whose rows are still arriving, if any.
  void setStream(PgStream* stream) { stream_ = stream; }

  // PQgetResult with the wait's limit.
  PGresult* NextResult();
  // Every result of the command sent, as PQexec gives them: the first
  // failure, else the last result.
  Result Collect();
  Result Exec(const char* sql);
  Result Exec(const std::string& sql) { return Exec(sql.c_str()); }
  Result ExecParams(const char* sql, int count, const char* const* values,
                    const unsigned* types = nullptr);
  Result ExecPrepared(const char* name, int count, const char* const* values);
  // A command that returns nothing; DbError when it fails.
  void Simple(const char* sql);

  // Before another command: a query still streaming reads its rest now.
  void Settle();
  // Reads and drops what is left of the streaming query (a cursor closed
  // before its end). Outside a transaction the server is asked to stop
  // first; inside one that would spoil the transaction.
  void AbandonStream() noexcept;
  // After the last result of the streaming query: libpq's closing NULL.
  void EndStream();

  // A connection lost outside a transaction is made again; inside one the
  // transaction is gone and the run must fail.
  void EnsureConnected();
  // Raises the failure of a result (null: of the connection).
  [[noreturn]] void Fail(const PGresult* result);

 private:
  void SetUpSession();
  // Whether the socket became ready for events within the wait.
  bool WaitSocket(short events, short* ready = nullptr);
  // Sends what libpq holds; false when the server took nothing in time.
  bool Flush();
  // The server said nothing for the whole wait. Closing this end is all
  // that can be done: the server, when it runs again, reads the close and
  // rolls the transaction back.
  [[noreturn]] void Stalled();

  PostgresOptions options_;
  int wait_seconds_ = 0;  // 0: wait forever
  PGconn* conn_ = nullptr;
  bool in_transaction_ = false;
  PgStream* stream_ = nullptr;
  std::function<void()> on_new_session_;
};

}  // namespace xb::db::postgres
