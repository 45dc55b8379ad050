#pragma once
// The progress of an import or export on a terminal: one line on stderr,
// "rows done of the total, rows per second", redrawn at most ten times a
// second and erased when the run is over. Off when stderr is no terminal,
// so that scripted output stays exactly as documented.

#include <chrono>
#include <functional>
#include <ostream>
#include <string>

namespace xb::cli {

class ProgressLine {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  ProgressLine(std::ostream& out, bool enabled, Clock clock = std::chrono::steady_clock::now)
      : out_(out), enabled_(enabled), clock_(std::move(clock)) {}
  ~ProgressLine() { erase(); }

  // Rows done so far of total (total 0: not known); done 0 ends the run and
  // erases the line.
  void update(long long done, long long total);
  // Takes the line off the screen (before a box is printed, at the end).
  void erase();

 private:
  void draw();

  std::ostream& out_;
  bool enabled_;
  Clock clock_;
  long long done_ = 0, total_ = 0;
  bool shown_ = false;
  std::chrono::steady_clock::time_point started_{}, drawn_{};
  bool running_ = false;
};

}  // namespace xb::cli
