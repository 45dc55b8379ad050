#pragma once
// A TCP proxy on 127.0.0.1 in front of a database server, for measuring how
// many times a client waits for the network: every chunk is held for a
// fixed one-way delay (0: passed on at once), and round trips are counted
// (a chunk from the client after the server last spoke counts one). Runs on
// a thread of its own until destroyed.

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace xb::test {

class LatencyProxy {
 public:
  // target: "host:port", or the path of a unix socket.
  LatencyProxy(std::string target, std::chrono::microseconds one_way);
  ~LatencyProxy();
  LatencyProxy(const LatencyProxy&) = delete;
  LatencyProxy& operator=(const LatencyProxy&) = delete;

  int port() const { return port_; }
  // Round trips of every connection so far (open ones included).
  long long roundTrips() const { return round_trips_.load(); }
  // Connections not yet closed at both ends; a closed one's last chunks
  // are counted.
  int openConnections() const { return open_.load(); }

 private:
  void Loop();

  std::string target_;
  std::chrono::microseconds one_way_;
  int listener_ = -1;
  int wake_[2] = {-1, -1};  // written to stop the loop
  int port_ = 0;
  std::atomic<long long> round_trips_{0};
  std::atomic<int> open_{0};
  std::thread thread_;
};

}  // namespace xb::test
