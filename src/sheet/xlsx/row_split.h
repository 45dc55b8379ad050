#pragma once
// A large sheet's XML parsed on two cores: a second parser starts past its
// middle, and the reader hands out its rows after the first parser's.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace xb::sheet::xlsx {

class PartParser;

// One sheet read by two parsers at once: the head (the reader's own, from
// the top) and the tail (a second parser that starts at a row tag it finds
// past the middle of the part, behind a made-up start of sheetData). The
// tail's rows count only when the head, parsing on, meets a row that starts
// exactly there, directly in sheetData and after the head's last row, and
// the tail was read to its end without a fault; otherwise the head reads on
// by itself. Either way the sheet reads as one parser reads it.
struct RowSplit {
  static constexpr int64_t kUnknown = -1, kAbandoned = -2;
  enum class Tail { Reading, Kept, Dropped };

  uint64_t half = 0;                  // where the tail starts looking for a row
  std::string sheet_data;             // sheetData's tag name as the part spells it
  std::atomic<int64_t> at{kUnknown};  // where the tail's first row tag starts
  std::atomic<bool> cancel{false};    // the tail is given up
  std::atomic<bool> held{false};      // the head ended where the tail began

  // The tail found its first row tag at this offset (kAbandoned: none);
  // false when the split was given up before.
  bool claim(int64_t offset) {
    bool claimed = false;
    {
      std::lock_guard lock(mutex_);
      int64_t unknown = kUnknown;
      claimed = at.compare_exchange_strong(unknown, offset);
    }
    changed_.notify_all();
    return claimed;
  }
  // The head went past the middle: where the tail starts, once it knows
  // (the tail unpacks faster than the head parses, so this rarely waits);
  // kAbandoned when it found no row or failed.
  int64_t place() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock,
                  [&] { return at.load() != kUnknown || tail_ != Tail::Reading || head_gone_; });
    int64_t unknown = kUnknown;
    at.compare_exchange_strong(unknown, kAbandoned);
    return at.load();
  }
  // The rows ended before the middle: the tail is not needed.
  void abandon() {
    {
      std::lock_guard lock(mutex_);
      int64_t unknown = kUnknown;
      at.compare_exchange_strong(unknown, kAbandoned);
      cancel = true;
    }
    changed_.notify_all();
  }
  // The head reads on by itself: the tail stops.
  void giveUp() {
    {
      std::lock_guard lock(mutex_);
      cancel = true;
    }
    changed_.notify_all();
  }
  // The reader is closed (or failed): the tail stops, the head waits no more.
  void headGone() {
    {
      std::lock_guard lock(mutex_);
      head_gone_ = true;
      cancel = true;
    }
    changed_.notify_all();
  }
  // The tail's first row has this number.
  void firstRow(int row) {
    {
      std::lock_guard lock(mutex_);
      first_row_ = row;
    }
    changed_.notify_all();
  }
  // The tail read to its end without a fault (kept), or not.
  void tailDone(bool kept) {
    {
      std::lock_guard lock(mutex_);
      if (tail_ == Tail::Reading) tail_ = kept ? Tail::Kept : Tail::Dropped;
    }
    changed_.notify_all();
  }
  // The head is at the tail's first row, after its own row last_row: true
  // when the tail's rows count (the head ends here), after the tail is read.
  bool meet(int last_row) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return first_row_ != 0 || tail_ != Tail::Reading || head_gone_; });
    if (head_gone_ || first_row_ <= last_row) return false;
    changed_.wait(lock, [&] { return tail_ != Tail::Reading || head_gone_; });
    return tail_ == Tail::Kept && !head_gone_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int first_row_ = 0;
  Tail tail_ = Tail::Reading;
  bool head_gone_ = false;
};

// The tail's start: unpacks the part up to the split's middle, finds the
// first row tag after it (within the longest tag the head would take) and
// claims its place; returns the bytes to parse first, from a made-up start
// of sheetData on. A SheetError when there is no row to start at.
std::string SeekTail(PartParser& parser, RowSplit& split);

}  // namespace xb::sheet::xlsx
