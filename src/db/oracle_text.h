#pragma once
// Oracle's SQL text made plain for an engine that only knows standard SQL.

#include <string>

namespace xb::db {

// Every q'[...]' (and nq'...') literal of the text rewritten as an ordinary
// '...' literal with its quotes doubled; everything else unchanged.
std::string PlainQuoteLiterals(const std::string& sql);

}  // namespace xb::db
