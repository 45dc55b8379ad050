#include "db/postgres/session.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

#include "db/errors.h"
#include "db/postgres/cursors.h"
#include "db/postgres/translate.h"
#include "text/ascii.h"

namespace xb::db::postgres {

namespace {

// The session's settings; the server's own time zone stays (a date
// imported at midnight is midnight where the database is).
const char* const kSessionSetup =
    "set standard_conforming_strings = on; set datestyle = 'ISO, YMD'; "
    "set client_min_messages = warning; ";

// The connection's last message without the line break libpq ends it with.
std::string ConnectionMessage(PGconn* conn) {
  return std::string(text::Trimmed(PQerrorMessage(conn)));
}

}  // namespace

std::string ServerMessage(const PGresult* result, PGconn* conn) {
  const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  std::string message = primary ? primary : ConnectionMessage(conn);
  std::string out;
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] != '"') {
      out += message[i];
      continue;
    }
    const size_t close = message.find('"', i + 1);
    if (close == std::string::npos) {
      out += message.substr(i);
      break;
    }
    out += '"' + OracleName(message.substr(i + 1, close - i - 1)) + '"';
    i = close;
  }
  if (const char* detail = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL) : nullptr)
    out += std::string("\n") + detail;
  return out;
}

std::string SqlState(const PGresult* result) {
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  return state ? state : "";
}

bool Ok(const PGresult* r) {
  const auto status = PQresultStatus(r);
  return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

Session::Session(const EngineTarget& target)
    : options_{target.lock_timeout, target.connect_timeout, target.response_timeout} {
  // Silence beyond the lock wait is taken for a server that stopped.
  wait_seconds_ = options_.response_timeout_seconds > 0
                      ? options_.response_timeout_seconds + options_.lock_wait_seconds
                      : 0;
  const std::string& user = target.user;
  const std::string& password = target.password;
  // Keywords and values as arrays: nothing the operator typed is ever
  // parsed as part of a connection string. The target's own settings and
  // the PG* variables fill in what the window leaves empty.
  std::vector<const char*> keys, values;
  const std::string timeout = std::to_string(options_.connect_timeout_seconds);
  const char* env_timeout = std::getenv("PGCONNECT_TIMEOUT");
  if (!env_timeout || !*env_timeout) {
    keys.push_back("connect_timeout");
    values.push_back(timeout.c_str());
  }
  // Over TCP the kernel gives up on a peer that stopped answering within
  // the same time (the target's own settings, coming later, win).
  const int response = options_.response_timeout_seconds;
  const std::string idle = std::to_string(std::max(1, response / 2)),
                    interval = std::to_string(std::max(1, response / 6)),
                    user_timeout = std::to_string(response * 1000);
  if (response > 0) {
    for (const auto& [key, value] : {std::pair<const char*, const char*>{"keepalives", "1"},
                                     {"keepalives_idle", idle.c_str()},
                                     {"keepalives_interval", interval.c_str()},
                                     {"keepalives_count", "3"},
                                     {"tcp_user_timeout", user_timeout.c_str()}}) {
      keys.push_back(key);
      values.push_back(value);
    }
  }
  keys.push_back("dbname");
  values.push_back(target.where.c_str());
  if (!user.empty()) {
    keys.push_back("user");
    values.push_back(user.c_str());
  }
  if (!password.empty()) {
    keys.push_back("password");
    values.push_back(password.c_str());
  }
  keys.push_back("client_encoding");
  values.push_back("UTF8");
  keys.push_back("application_name");
  values.push_back("xlsbridge");
  keys.push_back(nullptr);
  values.push_back(nullptr);
  conn_ = PQconnectdbParams(keys.data(), values.data(), 1);
  if (!conn_)
    throw DbError("cannot connect to the PostgreSQL server: out of memory", 0, kConnectionLost)
        .because(Reason::CannotConnect);
  if (PQstatus(conn_) != CONNECTION_OK) {
    const std::string message = ConnectionMessage(conn_);
    PQfinish(conn_);
    const bool timeout = message.find("timeout expired") != std::string::npos;
    throw DbError(timeout ? DbError::Kind::ConnectTimeout : DbError::Kind::Other,
                  "cannot connect to the PostgreSQL server: " + message, 0, kConnectionLost)
        .because(Reason::CannotConnect, {}, 0, message);
  }
  // The server's notices are no concern of the operator's.
  PQsetNoticeProcessor(
      conn_, [](void*, const char*) {}, nullptr);
  // Every wait is the engine's own (NextResult), with its time limit.
  PQsetnonblocking(conn_, 1);
  try {
    SetUpSession();
  } catch (...) {
    PQfinish(conn_);
    throw;
  }
}

Session::~Session() {
  if (stream_) stream_->Orphan();
  PQfinish(conn_);  // the server rolls back what is open
}

void Session::SetUpSession() {
  std::string setup = kSessionSetup;
  setup += "set lock_timeout = '" + std::to_string(options_.lock_wait_seconds) + "s';\n";
  Result result = Exec(setup.c_str());
  if (!Ok(result.get()))
    throw DbError("cannot prepare the session: " + ServerMessage(result.get(), conn_));
  if (on_new_session_) on_new_session_();
}

bool Session::WaitSocket(short events, short* ready) {
  pollfd p{PQsocket(conn_), events, 0};
  const int wait_ms = wait_seconds_ > 0 ? wait_seconds_ * 1000 : -1;
  for (;;) {
    const int n = poll(&p, 1, wait_ms);
    if (n == 0) return false;
    if (n > 0 || errno != EINTR) {
      if (ready) *ready = p.revents;
      return true;  // ready, or a failure libpq will meet and report
    }
  }
}

bool Session::Flush() {
  for (;;) {
    if (PQflush(conn_) != 1) return true;  // sent, or failed: PQgetResult says which
    short ready = 0;
    if (!WaitSocket(POLLIN | POLLOUT, &ready)) return false;
    if ((ready & POLLIN) && !PQconsumeInput(conn_)) return true;
  }
}

PGresult* Session::NextResult() {
  if (!Flush()) Stalled();
  while (PQisBusy(conn_)) {
    if (!WaitSocket(POLLIN)) Stalled();
    if (!PQconsumeInput(conn_)) break;
  }
  return PQgetResult(conn_);
}

void Session::Stalled() {
  if (stream_) {
    stream_->Orphan();
    stream_ = nullptr;
  }
  shutdown(PQsocket(conn_), SHUT_RDWR);
  PQconsumeInput(conn_);  // libpq meets the close: the connection is bad from here on
  in_transaction_ = false;
  throw DbError(DbError::Kind::Gone,
                "the server has not answered for " + std::to_string(wait_seconds_) +
                    " seconds; the connection was closed and the server rolls back what was "
                    "not committed",
                0, kConnectionLost)
      .because(Reason::ServerSilent, {}, wait_seconds_);
}

Result Session::Collect() {
  Result last;
  while (PGresult* r = NextResult()) {
    Result held(r);
    if (!last || PQresultStatus(last.get()) != PGRES_FATAL_ERROR) last = std::move(held);
  }
  return last;
}

Result Session::Exec(const char* sql) {
  Settle();
  if (PQsendQuery(conn_, sql) != 1) return Result();
  return Collect();
}

Result Session::ExecParams(const char* sql, int count, const char* const* values,
                           const unsigned* types) {
  Settle();
  if (PQsendQueryParams(conn_, sql, count, types, values, nullptr, nullptr, 0) != 1)
    return Result();
  return Collect();
}

Result Session::ExecPrepared(const char* name, int count, const char* const* values) {
  Settle();
  if (PQsendQueryPrepared(conn_, name, count, values, nullptr, nullptr, 0) != 1) return Result();
  return Collect();
}

void Session::Settle() {
  if (stream_) stream_->ReadRest();
}

void Session::AbandonStream() noexcept {
  stream_ = nullptr;
  try {
    if (!in_transaction_ && PQstatus(conn_) == CONNECTION_OK) {
      if (PGcancel* cancel = PQgetCancel(conn_)) {
        char message[256];
        PQcancel(cancel, message, sizeof message);
        PQfreeCancel(cancel);
      }
    }
    while (PGresult* r = NextResult()) PQclear(r);
  } catch (...) {
  }
}

void Session::EndStream() {
  stream_ = nullptr;
  while (PGresult* r = NextResult()) PQclear(r);
}

void Session::EnsureConnected() {
  if (PQstatus(conn_) == CONNECTION_OK) return;
  if (in_transaction_) {
    in_transaction_ = false;
    throw DbError(DbError::Kind::Gone,
                  "the connection to the server was lost; the transaction was rolled back", 0,
                  kConnectionLost)
        .because(Reason::ConnectionLostRolledBack);
  }
  if (stream_) stream_->Orphan();
  stream_ = nullptr;
  PQreset(conn_);
  PQsetnonblocking(conn_, 1);
  if (PQstatus(conn_) != CONNECTION_OK)
    throw DbError("cannot connect to the PostgreSQL server: " + ConnectionMessage(conn_), 0,
                  kConnectionLost)
        .because(Reason::CannotConnect, {}, 0, ConnectionMessage(conn_));
  SetUpSession();
}

void Session::Simple(const char* sql) {
  Result result = Exec(sql);
  if (!Ok(result.get())) Fail(result.get());
}

void Session::Fail(const PGresult* result) {
  if (PQstatus(conn_) != CONNECTION_OK) {
    const bool was = in_transaction_;
    in_transaction_ = false;
    throw DbError(DbError::Kind::Gone,
                  std::string("the connection to the server was lost") +
                      (was ? "; the transaction was rolled back: " : ": ") +
                      ConnectionMessage(conn_),
                  0, kConnectionLost)
        .because(was ? Reason::ConnectionLostRolledBack : Reason::ConnectionLost, {}, 0,
                 ConnectionMessage(conn_));
  }
  const std::string state = SqlState(result);
  // 55P03: lock_timeout ran out waiting for another session's lock.
  throw DbError(ServerMessage(result, conn_), 0, state,
                state == "55P03" ? DbError::Kind::LockTimeout : DbError::Kind::Other);
}

}  // namespace xb::db::postgres
