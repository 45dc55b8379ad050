#pragma once
// Query export: the operator's SELECT into a new workbook shown on screen.

#include <string>

#include "db/connection.h"
#include "operator/operator.h"
#include "sheet/sheet.h"

namespace xb::exporting {

// The table name of a statement (D1 of the export workbook); pure text work.
std::string ExtractFromTable(const std::string& statement);

// Exports the rows of the query text to a new workbook and shows it.
// Returns true when the workbook was
// filled and shown; every failure is reported through the operator.
bool Export(db::DbSession& session, sheet::Server& server, Operator& op,
            const std::string& query_text);

}  // namespace xb::exporting
