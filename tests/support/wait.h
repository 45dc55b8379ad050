#pragma once
// Waiting in tests on what is awaited, not for a guessed time: a condition
// polled until a deadline, a child process's end.

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <functional>

namespace xb::test {

// Asks `condition` until it holds or `limit` has passed; true when it held.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit,
               std::chrono::milliseconds every = std::chrono::milliseconds(10));

// Waits up to `limit` for the child `pid` to end. True when it ended, with
// its wait status and resource use (either pointer may be null) and the
// child reaped; false when it still runs.
bool WaitForChild(pid_t pid, std::chrono::milliseconds limit, int* status, struct rusage* usage);

}  // namespace xb::test
