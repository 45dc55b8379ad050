#pragma once
#include <optional>
#include <string>
#include <vector>

#include "db/engine.h"

namespace xb::db {

// The alias file: $XLSBRIDGE_ALIASES, else $XDG_CONFIG_HOME/xlsbridge/aliases.ini
// (~/.config/... when unset). One section per alias:
//   [DEMO]
//   engine=sqlite
//   target=demo.db        ; relative paths are taken from the file's folder
//   lock_timeout=30       ; seconds to wait for another session's lock, 0 = forever
//   connect_timeout=15    ; seconds connecting waits for the server
//   response_timeout=60   ; seconds a connected server may stay silent, 0 = forever
// engine= names a registered engine (db/registry.h); without it, the one
// registered as the aliases' default (the embedded engine).
std::string AliasFilePath();

// Looks the name up in the alias file (case-insensitive).
std::optional<EngineTarget> FindAlias(const std::string& name);

// Where a data source typed by the operator leads: an alias of the alias
// file, else the first registered engine that claims it (an ODBC DSN of the
// machine, then an existing SQLite file). An alias file that cannot be read
// counts as one without aliases here. DbError (Kind::NoSuchDataSource) when
// nothing claims it.
EngineTarget ResolveDataSource(const std::string& data_source);

// The data-source list: the aliases of the alias file and the data sources
// every engine lists (the ODBC DSNs, user and system), sorted case-insensitively by the locale,
// each name once (of names differing only in case the first read stays). A missing alias file is no
// alias; a file that cannot be read raises DbError.
std::vector<std::string> AliasList();

}  // namespace xb::db
