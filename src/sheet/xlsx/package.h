#pragma once
// The zip package of an .xlsx workbook: its parts opened by name, each
// checked against the reader's limits before a byte is unpacked, and a part
// unpacked ahead of its parser on a thread of its own.

#include <zip.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "reason/reason.h"
#include "sheet/xlsx/xlsx_reader.h"

namespace xb::sheet::xlsx {

// How much of a part is unpacked at a time.
constexpr size_t kChunk = 128 * 1024;

[[noreturn]] void Fail(const std::string& why);
// The same with the reason the operator is told.
[[noreturn]] void FailAs(Reason reason, const std::string& why, std::string subject = {});

struct PartInfo {
  zip_uint64_t index = 0;
  std::string name;
  uint64_t size = 0;
};

// One open of the package. libzip's archives are not shared between threads,
// so each thread that reads parts opens the package for itself.
class Package {
 public:
  Package(const std::string& path, const XlsxLimits& limits);
  // The package held in memory, shared by every open of it.
  Package(std::shared_ptr<const std::string> data, const XlsxLimits& limits);
  ~Package() { zip_discard(zip_); }
  Package(const Package&) = delete;
  Package& operator=(const Package&) = delete;

  const XlsxLimits& limits() const { return limits_; }
  std::unique_ptr<Package> reopen() const;

  zip_int64_t entries() const { return zip_get_num_entries(zip_, 0); }
  // Part names compare without regard to case.
  bool has(const std::string& name) const {
    return zip_name_locate(zip_, name.c_str(), ZIP_FL_NOCASE) >= 0;
  }

  // Opens a part for reading after checking its sizes against the limits.
  zip_file_t* open(const std::string& name, bool large, PartInfo& info);

 private:
  // Refuses a package that names one part twice (zip_ is let go).
  void checkNames();

  std::string path_;
  std::shared_ptr<const std::string> data_;  // the package when read from memory
  XlsxLimits limits_;
  zip_t* zip_ = nullptr;
};

// Unpacks a part on a thread of its own, a few chunks ahead of its parser,
// so that inflating and parsing the sheet take two cores. read() answers as
// zip_fread would.
class ReadAhead {
 public:
  explicit ReadAhead(zip_file_t* file);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Up to size bytes (a chunk is never larger than kChunk); 0 at the end,
  // -1 when the part cannot be unpacked (error() says why).
  zip_int64_t read(void* buffer, size_t size);
  const std::string& error() const { return error_; }

 private:
  static constexpr size_t kAhead = 4;

  void fill();

  zip_file_t* file_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<char>> ready_;
  std::vector<std::vector<char>> free_;
  bool stop_ = false, done_ = false, failed_ = false;
  std::string error_;
  std::thread thread_;
};

}  // namespace xb::sheet::xlsx
