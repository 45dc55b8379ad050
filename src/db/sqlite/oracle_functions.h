#pragma once
// The Oracle functions the program's statements call, as SQL functions of a
// SQLite connection: to_date, to_char and to_number, and the engine's own
// helpers xlsbridge_declared (what user_tab_columns shows of a declared
// type), xlsbridge_number_order and xlsbridge_number_key (see
// number_params.h).

struct sqlite3;

namespace xb::db::sqlite {

void AddOracleFunctions(sqlite3* db);

}  // namespace xb::db::sqlite
