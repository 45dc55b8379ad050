#include "cli/progress_line.h"

#include <cstdio>

namespace xb::cli {

namespace {
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
}

void ProgressLine::update(long long done, long long total) {
  if (done <= 0) {
    // The run is over (or has not begun): nothing stays on the terminal.
    erase();
    running_ = false;
    return;
  }
  if (!running_) {
    running_ = true;
    started_ = clock_();
  }
  done_ = done;
  total_ = total;
  draw();
}

void ProgressLine::draw() {
  if (!enabled_) return;
  const auto now = clock_();
  // At most ten a second; a run shorter than that shows nothing at all.
  if (now - (shown_ ? drawn_ : started_) < kRedrawInterval) return;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.0f", seconds > 0 ? double(done_) / seconds : 0.0);
  std::string text = "\r\033[K" + std::to_string(done_);
  if (total_ > 0) text += "/" + std::to_string(total_);
  text += " 行  " + std::string(rate) + " 行/秒";
  out_ << text << std::flush;
  shown_ = true;
  drawn_ = now;
}

void ProgressLine::erase() {
  if (!shown_) return;
  out_ << "\r\033[K" << std::flush;
  shown_ = false;
}

}  // namespace xb::cli
