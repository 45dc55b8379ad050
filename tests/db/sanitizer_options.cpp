// Sanitizer defaults for the tests that load ODBC drivers (database and
// import tests). The SQLite ODBC driver and psqlODBC keep a few allocations
// from SQLDriverConnect for the life of the process; the library that made
// them is unloaded before exit, so the leak report is only matched when the
// whole stack is walked on every allocation.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libsqlite3odbc.so\nleak:psqlodbcw.so\n";
}
