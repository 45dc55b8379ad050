#include "support/wait.h"

#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace xb::test {

using Clock = std::chrono::steady_clock;

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit,
               std::chrono::milliseconds every) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    if (condition()) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(every);
  }
}

namespace {

// The child's end if it has come: reaped, true.
bool Reaped(pid_t pid, int* status, struct rusage* usage) {
  int local_status = 0;
  struct rusage local_usage {};
  for (;;) {
    const pid_t done = wait4(pid, &local_status, WNOHANG, &local_usage);
    if (done == pid) break;
    if (done < 0 && errno == EINTR) continue;
    // Not ended yet, or not a child of ours (nothing to wait for).
    if (done == 0) return false;
    return true;
  }
  if (status) *status = local_status;
  if (usage) *usage = local_usage;
  return true;
}

}  // namespace

bool WaitForChild(pid_t pid, std::chrono::milliseconds limit, int* status, struct rusage* usage) {
  const auto deadline = Clock::now() + limit;
  // A descriptor that becomes readable when the process ends: no polling.
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  bool ended = false;
  for (;;) {
    if (Reaped(pid, status, usage)) {
      ended = true;
      break;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    if (pidfd >= 0) {
      pollfd fd{pidfd, POLLIN, 0};
      poll(&fd, 1, static_cast<int>(left.count()));
    } else {
      // A kernel without pidfd_open: ask again shortly.
      std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(2)));
    }
  }
  if (pidfd >= 0) close(pidfd);
  return ended;
}

}  // namespace xb::test
