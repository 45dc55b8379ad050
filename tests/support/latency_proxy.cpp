#include "latency_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <stdexcept>
#include <vector>

namespace xb::test {
namespace {

using Clock = std::chrono::steady_clock;

int Connect(const std::string& target) {
  if (!target.empty() && target[0] == '/') {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, target.c_str(), sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(fd);
      return -1;
    }
    return fd;
  }
  const auto colon = target.rfind(':');
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::stoi(target.substr(colon + 1))));
  inet_pton(AF_INET, target.substr(0, colon).c_str(), &address.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

// One direction of a connection: chunks read, waiting for their time.
struct Lane {
  int from = -1, to = -1;
  struct Chunk {
    Clock::time_point due;
    std::string bytes;
  };
  std::deque<Chunk> held;
  bool ended = false;  // the sender closed: close the receiver once all is passed on
};

struct Link {
  Lane up, down;  // client to server, server to client
  bool server_spoke_last = true;
  bool closed = false;
};

}  // namespace

LatencyProxy::LatencyProxy(std::string target, std::chrono::microseconds one_way)
    : target_(std::move(target)), one_way_(one_way) {
  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener_, 16) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      pipe(wake_) != 0)
    throw std::runtime_error("the proxy cannot listen");
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Loop(); });
}

LatencyProxy::~LatencyProxy() {
  const char stop = 0;
  if (write(wake_[1], &stop, 1) != 1) {
  }
  thread_.join();
  close(listener_);
  close(wake_[0]);
  close(wake_[1]);
}

void LatencyProxy::Loop() {
  std::vector<std::unique_ptr<Link>> links;
  char buffer[1 << 16];
  for (;;) {
    std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
    std::vector<Lane*> lanes;
    auto soonest = Clock::time_point::max();
    for (auto& link : links)
      for (Lane* lane : {&link->up, &link->down}) {
        if (!lane->ended) {
          fds.push_back({lane->from, POLLIN, 0});
          lanes.push_back(lane);
        }
        if (!lane->held.empty()) soonest = std::min(soonest, lane->held.front().due);
      }
    int timeout = -1;
    if (soonest != Clock::time_point::max()) {
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(soonest - Clock::now());
      timeout = static_cast<int>(std::max<long long>(0, wait.count()));
    }
    poll(fds.data(), fds.size(), timeout);
    if (fds[0].revents) break;
    if (fds[1].revents & POLLIN) {
      const int client = accept(listener_, nullptr, nullptr);
      const int server = client < 0 ? -1 : Connect(target_);
      if (server < 0) {
        if (client >= 0) close(client);
      } else {
        const int on = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto link = std::make_unique<Link>();
        link->up.from = link->down.to = client;
        link->up.to = link->down.from = server;
        links.push_back(std::move(link));
      }
    }
    for (size_t i = 0; i < lanes.size(); ++i) {
      if (!fds[i + 2].revents) continue;
      Lane& lane = *lanes[i];
      const ssize_t n = read(lane.from, buffer, sizeof buffer);
      if (n <= 0) {
        lane.ended = true;
        continue;
      }
      for (auto& link : links) {
        if (&link->up == &lane) {
          if (link->server_spoke_last) ++round_trips_;
          link->server_spoke_last = false;
        } else if (&link->down == &lane) {
          link->server_spoke_last = true;
        }
      }
      lane.held.push_back({Clock::now() + one_way_, std::string(buffer, static_cast<size_t>(n))});
    }
    const auto now = Clock::now();
    for (auto& link : links) {
      for (Lane* lane : {&link->up, &link->down}) {
        while (!lane->held.empty() && lane->held.front().due <= now) {
          const std::string& bytes = lane->held.front().bytes;
          // A blocking write: the other side reads as it goes.
          for (size_t sent = 0; sent < bytes.size();) {
            const ssize_t n = write(lane->to, bytes.data() + sent, bytes.size() - sent);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
          }
          lane->held.pop_front();
        }
        if (lane->ended && lane->held.empty()) link->closed = true;
      }
      if (link->closed) {
        close(link->up.from);
        close(link->up.to);
      }
    }
    links.erase(std::remove_if(links.begin(), links.end(), [](auto& l) { return l->closed; }),
                links.end());
    open_ = static_cast<int>(links.size());
  }
  for (auto& link : links) {
    close(link->up.from);
    close(link->up.to);
  }
}

}  // namespace xb::test
