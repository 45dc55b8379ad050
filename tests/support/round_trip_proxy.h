#pragma once
// A TCP proxy on 127.0.0.1 in front of a server's unix socket that counts
// round trips: every chunk the client sends after the server last spoke is
// one. Counts, not times: what a link with latency would cost is the count
// times its round trip.

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace xb::test {

class RoundTripProxy {
 public:
  // Forwards every connection to the unix socket at socket_path.
  explicit RoundTripProxy(std::string socket_path);
  ~RoundTripProxy();  // stops and joins
  RoundTripProxy(const RoundTripProxy&) = delete;
  RoundTripProxy& operator=(const RoundTripProxy&) = delete;

  int port() const { return port_; }
  // Round trips of every connection so far.
  long roundTrips() const { return round_trips_.load(); }
  void reset() { round_trips_ = 0; }

 private:
  void Accept();
  void Pump(int client, int server);

  std::string socket_path_;
  int listener_ = -1;
  int stop_[2] = {-1, -1};  // a pipe: written to stop every thread
  int port_ = 0;
  std::atomic<long> round_trips_{0};
  std::thread acceptor_;
  std::vector<std::thread> pumps_;
};

}  // namespace xb::test
