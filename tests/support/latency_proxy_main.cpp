// The latency proxy as a program, for the benchmarks:
//   latency_proxy TARGET ONE_WAY_MS PORT_FILE
// writes its port into PORT_FILE, then on SIGTERM or SIGINT prints the round
// trips of every connection it carried ("round trips N") and ends.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "latency_proxy.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s TARGET ONE_WAY_MS PORT_FILE\n", argv[0]);
    return 2;
  }
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  // Blocked before the proxy's thread starts, so only sigwait below sees them.
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  const auto one_way = std::chrono::microseconds(static_cast<long long>(std::atof(argv[2]) * 1000));
  xb::test::LatencyProxy proxy(argv[1], one_way);
  std::ofstream(argv[3]) << proxy.port() << "\n";
  int signal = 0;
  sigwait(&stop, &signal);
  std::printf("round trips %lld\n", proxy.roundTrips());
  return 0;
}
