#include "support/round_trip_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace xb::test {

RoundTripProxy::RoundTripProxy(std::string socket_path) : socket_path_(std::move(socket_path)) {
  if (pipe(stop_) != 0) throw std::runtime_error("pipe failed");
  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof(address);
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener_, 16) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error(std::string("the proxy cannot listen: ") + std::strerror(errno));
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { Accept(); });
}

RoundTripProxy::~RoundTripProxy() {
  const char byte = 0;
  (void)!write(stop_[1], &byte, 1);
  acceptor_.join();
  for (auto& pump : pumps_) pump.join();
  close(listener_);
  close(stop_[0]);
  close(stop_[1]);
}

void RoundTripProxy::Accept() {
  for (;;) {
    pollfd fds[2] = {{listener_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents) return;
    const int client = accept(listener_, nullptr, nullptr);
    if (client < 0) continue;
    const int server = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket_path_.c_str(), sizeof(address.sun_path) - 1);
    if (server < 0 ||
        connect(server, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
      close(client);
      if (server >= 0) close(server);
      continue;
    }
    const int one = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    pumps_.emplace_back([this, client, server] { Pump(client, server); });
  }
}

void RoundTripProxy::Pump(int client, int server) {
  bool server_spoke = true;  // the first chunk of the client is a round trip
  char buffer[1 << 16];
  for (bool open = true; open;) {
    pollfd fds[3] = {{client, POLLIN, 0}, {server, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    if (poll(fds, 3, -1) < 0) continue;
    if (fds[2].revents) break;
    for (int side = 0; side < 2 && open; ++side) {
      if (!fds[side].revents) continue;
      const ssize_t n = read(fds[side].fd, buffer, sizeof(buffer));
      if (n <= 0) {
        open = false;
        break;
      }
      if (side == 0 && server_spoke) ++round_trips_;
      server_spoke = side == 1;
      const int to = side == 0 ? server : client;
      for (ssize_t done = 0; done < n;) {
        const ssize_t w = write(to, buffer + done, static_cast<size_t>(n - done));
        if (w <= 0) {
          open = false;
          break;
        }
        done += w;
      }
    }
  }
  close(client);
  close(server);
}

}  // namespace xb::test
