#pragma once
// The postgres engine: libpq, with the Oracle dialect mapped onto
// PostgreSQL (dictionary views and to_date made private to the session on
// connect, statements translated by translate.h, every value bound).

#include <memory>
#include <string>

#include "db/engine.h"

namespace xb::db {

struct PostgresOptions {
  // How long a statement waits for another session's lock; 0 waits forever.
  int lock_wait_seconds = 30;
  int connect_timeout_seconds = 15;
};

// target.where: a libpq connection string or postgresql:// URI. The user
// and password (the window's) go in as libpq's own parameters and win over
// the target's; empty ones are left to the target and the PG* variables.
std::unique_ptr<Engine> OpenPostgres(const EngineTarget& target);

// Whether a data source typed by the operator is a PostgreSQL URI.
bool IsPostgresUri(const std::string& data_source);

}  // namespace xb::db
