// The CTest fixture around the test server: "start STATE" starts a private
// cluster and writes where it is into STATE; "stop STATE" stops it and
// removes its folder. A missing server is said loudly, and the tests that
// need it skip with the same words.
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "pg_cluster.h"

int main(int argc, char** argv) {
  using namespace xb::test;
  if (argc != 3 || (std::strcmp(argv[1], "start") != 0 && std::strcmp(argv[1], "stop") != 0)) {
    std::fprintf(stderr, "usage: %s start|stop STATE_FILE\n", argv[0]);
    return 2;
  }
  const std::string state = argv[2];
  // A cluster left behind by an interrupted run goes first.
  PgClusterInfo old;
  if (ReadClusterState(state, old)) StopPgCluster(old);
  std::filesystem::remove(state);
  if (std::strcmp(argv[1], "stop") == 0) return 0;
  if (PgBinFolder().empty()) {
    std::printf(
        "*** WARNING: the PostgreSQL server binaries (Debian package postgresql) are not "
        "installed.\n"
        "*** The postgres engine is NOT tested: its tests skip.\n");
    return 0;
  }
  try {
    const PgClusterInfo cluster = StartPgCluster();
    WriteClusterState(state, cluster);
    std::printf("test server up in %s\n", cluster.folder.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "the test server did not start: %s\n", e.what());
    return 1;
  }
  return 0;
}
