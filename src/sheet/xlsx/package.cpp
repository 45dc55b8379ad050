#include "sheet/xlsx/package.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "sheet/sheet.h"
#include "text/ascii.h"

namespace xb::sheet::xlsx {
namespace {

std::string ZipOpenReason(int code, bool starts_as_zip) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  const std::string detail = zip_error_strerror(&error);
  zip_error_fini(&error);
  if (code == ZIP_ER_NOZIP)
    return starts_as_zip
               ? "the zip package is truncated or damaged: its table of contents is missing (" +
                     detail + ")"
               : "the file is no zip package (" + detail + ")";
  if (code == ZIP_ER_INCONS) return "the zip package is damaged (" + detail + ")";
  return "the zip package cannot be opened: " + detail;
}

}  // namespace

void Fail(const std::string& why) { throw SheetError(Reason::WorkbookDamaged, why); }
void FailAs(Reason reason, const std::string& why, std::string subject) {
  throw SheetError(reason, why, std::move(subject));
}

Package::Package(const std::string& path, const XlsxLimits& limits) : path_(path), limits_(limits) {
  int code = 0;
  zip_ = zip_open(path.c_str(), ZIP_RDONLY, &code);
  if (!zip_) Fail(ZipOpenReason(code, true));
  checkNames();
}

Package::Package(std::shared_ptr<const std::string> data, const XlsxLimits& limits)
    : data_(std::move(data)), limits_(limits) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(data_->data(), data_->size(), 0, &error);
  if (!source) {
    zip_error_fini(&error);
    throw std::bad_alloc();
  }
  zip_ = zip_open_from_source(source, ZIP_RDONLY, &error);
  if (!zip_) {
    const int code = zip_error_code_zip(&error);
    zip_error_fini(&error);
    zip_source_free(source);
    Fail(ZipOpenReason(code, data_->substr(0, 2) == "PK"));
  }
  zip_error_fini(&error);
  checkNames();
}

void Package::checkNames() {
  // libzip finds the first of two entries of one name; another program may
  // take the second, and read another workbook from the same file.
  std::string twice;
  try {
    std::unordered_set<std::string> seen;
    const zip_int64_t n = entries();
    for (zip_int64_t i = 0; i < n && twice.empty(); ++i) {
      const char* name = zip_get_name(zip_, zip_uint64_t(i), 0);
      if (name && !seen.insert(text::UpperCased(name)).second) twice = name;
    }
  } catch (...) {
    zip_discard(zip_);
    throw;
  }
  if (twice.empty()) return;
  zip_discard(zip_);
  Fail("the package holds two parts named " + twice +
       ", which programs may read differently: refused as ambiguous");
}

std::unique_ptr<Package> Package::reopen() const {
  return data_ ? std::make_unique<Package>(data_, limits_)
               : std::make_unique<Package>(path_, limits_);
}

zip_file_t* Package::open(const std::string& name, bool large, PartInfo& info) {
  const zip_int64_t index = zip_name_locate(zip_, name.c_str(), ZIP_FL_NOCASE);
  if (index < 0) Fail("the package has no part " + name);
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(zip_, zip_uint64_t(index), 0, &st) != 0)
    Fail("the part " + name + " cannot be read: " + zip_strerror(zip_));
  const uint64_t limit = large ? limits_.max_large_part : limits_.max_small_part;
  if (!(st.valid & ZIP_STAT_SIZE) || !(st.valid & ZIP_STAT_COMP_SIZE))
    Fail("the part " + name + " does not say its size");
  if (st.size > limit)
    Fail("the part " + name + " unpacks to " + std::to_string(st.size) + " bytes, more than the " +
         std::to_string(limit) + " a workbook part may hold");
  if (st.size > limits_.ratio_floor &&
      st.size / std::max<uint64_t>(st.comp_size, 1) > limits_.max_ratio)
    Fail("the part " + name + " unpacks to more than " + std::to_string(limits_.max_ratio) +
         " times its packed size (" + std::to_string(st.comp_size) + " to " +
         std::to_string(st.size) + " bytes): refused as a zip bomb");
  if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
    FailAs(Reason::WorkbookEncrypted, "the part " + name + " is encrypted");
  zip_file_t* file = zip_fopen_index(zip_, zip_uint64_t(index), 0);
  if (!file) Fail("the part " + name + " cannot be unpacked: " + zip_strerror(zip_));
  info.index = zip_uint64_t(index);
  info.name = name;
  info.size = st.size;
  return file;
}

ReadAhead::ReadAhead(zip_file_t* file) : file_(file) {
  thread_ = std::thread([this] { fill(); });
}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

zip_int64_t ReadAhead::read(void* buffer, size_t size) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return !ready_.empty() || done_; });
  if (ready_.empty()) return failed_ ? -1 : 0;
  std::vector<char> chunk = std::move(ready_.front());
  ready_.pop_front();
  lock.unlock();
  const size_t n = std::min(size, chunk.size());
  std::memcpy(buffer, chunk.data(), n);
  lock.lock();
  free_.push_back(std::move(chunk));
  lock.unlock();
  changed_.notify_all();
  return zip_int64_t(n);
}

void ReadAhead::fill() {
  for (;;) {
    std::vector<char> chunk;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stop_ || ready_.size() < kAhead; });
      if (stop_) return;
      if (!free_.empty()) {
        chunk = std::move(free_.back());
        free_.pop_back();
      }
    }
    zip_int64_t n = -1;
    std::string error;
    try {
      chunk.resize(kChunk);
      n = zip_fread(file_, chunk.data(), kChunk);
      if (n < 0) error = zip_file_strerror(file_);
    } catch (const std::bad_alloc&) {
      error = "not enough memory";
    }
    {
      std::lock_guard lock(mutex_);
      if (n <= 0) {
        done_ = true;
        failed_ = n < 0;
        error_ = std::move(error);
      } else {
        chunk.resize(size_t(n));
        ready_.push_back(std::move(chunk));
      }
    }
    changed_.notify_all();
    if (n <= 0) return;
  }
}

}  // namespace xb::sheet::xlsx
