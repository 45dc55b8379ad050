# Read by ctest after each test program's discovered tests. Those that need
# the PostgreSQL test server get its fixture (started once for the run);
# they and the others that need more than the build (an ODBC driver) or take
# seconds each (faults, crashes, whole corpora) are labelled "slow", so
# `ctest -LE slow` is a quick loop that starts no server. A test of the
# server named otherwise starts a server of its own: name it like these.
set(xb_server_pattern
  "/postgres$|^Pg(Engine|Import|Dba)\\.|^OdbcPostgres\\.|^ServerPaths/RoundTrips\\.")
set(xb_slow_pattern
  "/odbc$|^ServerFaults\\.|^CrashAtomicity\\.|^DbFolder\\.ASilentServerIsGivenUpAndSaidSo$"
  "|^Connect\\.AnOdbcPasswordWithSeparatorsStillLogsIn$|^ExactNumbers\\.TheOdbcEngineReadsTheDigitsBack$"
  "|^HostileWorkbooks\\.|^WorkbookReader\\.FuzzAndHostileCorporaAreReadOrRefusedCleanly$"
  "|^XlsxHostile\\.(EveryCorpusFileEndsInAReasonOrCells|FuzzingCorpusReplays|LimitsAreTheCallersToSet)$")
string(REPLACE ";" "" xb_slow_pattern "${xb_slow_pattern}")
foreach(xb_program test_db test_import test_cli test_postgres test_postgres_faults test_sheet
                   test_sheet_xlsx test_export)
  foreach(xb_test IN LISTS ${xb_program}_TESTS)
    if(xb_test MATCHES "${xb_server_pattern}")
      set_tests_properties("${xb_test}" PROPERTIES FIXTURES_REQUIRED pg LABELS slow)
    elseif(xb_test MATCHES "${xb_slow_pattern}")
      set_tests_properties("${xb_test}" PROPERTIES LABELS slow)
    endif()
  endforeach()
endforeach()
