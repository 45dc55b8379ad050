#pragma once
// The postgres engine: libpq, with the Oracle dialect mapped onto
// PostgreSQL (statements translated by translate.h, the dictionary read in
// place, every value bound, query rows streamed).

#include <memory>
#include <string>

#include "db/engine.h"

namespace xb::db {

struct PostgresOptions {
  // How long a statement waits for another session's lock; 0 waits forever.
  int lock_wait_seconds = 30;
  int connect_timeout_seconds = 15;
  // How long the server may stay silent beyond the lock wait before it is
  // taken for stopped; 0 waits forever.
  int response_timeout_seconds = 60;
};

// target.where: a libpq connection string or postgresql:// URI. The user
// and password (the window's) go in as libpq's own parameters and win over
// the target's; empty ones are left to the target and the PG* variables.
std::unique_ptr<Engine> OpenPostgres(const EngineTarget& target);

// Whether a data source typed by the operator is a PostgreSQL URI.
bool IsPostgresUri(const std::string& data_source);

}  // namespace xb::db
