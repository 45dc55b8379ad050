// The .xlsx reader: libzip for the package, expat for each part's XML. The
// shared strings are read on a thread of their own while the active sheet
// streams on another, a batch of rows ahead of the caller; a large sheet is
// parsed by two parsers at once (row_split.h). The caller sees rows in
// order, whichever parser read them.

#include "sheet/xlsx/xlsx_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <future>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "sheet/cfb.h"
#include "sheet/grid.h"
#include "sheet/sheet.h"
#include "sheet/xlsx/package.h"
#include "sheet/xlsx/part_parser.h"
#include "sheet/xlsx/row_split.h"
#include "sheet/xlsx/shared_strings.h"
#include "sheet/xlsx/sheet_stream.h"
#include "sheet/xlsx/structure.h"
#include "sheet/xlsx/styles.h"

namespace xb::sheet {
namespace {

using namespace xlsx;

// Rows go from the sheet's parser to the caller in batches of at most this
// many rows, or about this many bytes.
constexpr size_t kBatchRows = 256;
constexpr size_t kBatchBytes = size_t(1) << 20;
// How far the sheet's thread parses ahead of the caller: far enough to go on
// while the shared strings are still read, not so far as to hold the sheet.
constexpr size_t kAheadBytes = size_t(32) << 20;
// The tail's rows are all held until the head meets them: larger batches.
constexpr size_t kTailBatchRows = 4096;
constexpr size_t kTailBatchBytes = size_t(16) << 20;
// The built-in formats a date cell without a date style shows.
constexpr int kBuiltinDate = 14, kBuiltinDateTime = 22;
// How much of an OLE2 file is looked through for the encryption stream.
constexpr size_t kMaxOle2Bytes = size_t(64) << 20;

struct Batch {
  PackedRows rows;
  bool last = false;         // the parser's rows end with this batch
  std::exception_ptr error;  // the fault that ended them, after the batch's rows
};

// Fills a batch from the parser (the sheet's handler writes into it).
void ParseBatch(SheetStream& sheet, PartParser& parser, Batch& batch) {
  batch.rows.clear();
  batch.last = false;
  batch.error = nullptr;
  sheet.out = &batch.rows;
  try {
    if (!parser.run()) batch.last = true;
  } catch (...) {
    batch.error = std::current_exception();
    batch.last = true;
  }
}

class XlsxReader : public WorkbookReader {
 public:
  explicit XlsxReader(std::unique_ptr<Package> package) : package_(std::move(package)) {
    try {
      open();
    } catch (...) {
      stop();
      throw;
    }
  }
  ~XlsxReader() override { stop(); }
  XlsxReader(const XlsxReader&) = delete;
  XlsxReader& operator=(const XlsxReader&) = delete;

  const std::string& activeSheetName() const override { return sheet_name_; }
  bool date1904() const override { return date1904_; }
  size_t cellCountHint() const override { return sheet_.cell_hint; }
  std::shared_ptr<const StringTable> sharedStrings() const override {
    return strings_ready_ ? strings_ : nullptr;
  }

  bool nextRow(TypedRow& row) override {
    if (done_) return false;
    try {
      if (!strings_ready_) {
        // Every fault of the table is the workbook's, used or not.
        strings_ready_ = true;
        if (strings_done_.valid())
          strings_ = std::make_shared<const StringTable>(strings_done_.get());
      }
      while (!current_ || taken_ == current_->rows.rows.size()) {
        if (current_ && current_->error) std::rethrow_exception(current_->error);
        if (!nextBatch()) return finish();
      }
      unpack(current_->rows, taken_++, row);
      if (in_tail_ && package_->limits().tail_rows) ++*package_->limits().tail_rows;
      return true;
    } catch (...) {
      done_ = true;
      stop();
      throw;
    }
  }

 private:
  void open() {
    const WorkbookLayout layout = FindWorkbook(*package_);
    sheet_name_ = layout.sheet_name;
    date1904_ = layout.date1904;
    sheet_part_ = layout.sheet_part;
    formats_ = ReadCellFormats(*package_, layout.styles_part);
    const bool threads = package_->limits().threads;

    // The shared strings are read on a thread of their own, from a second
    // open of the package, while the sheet is read on another; the rows
    // wait for the table only when they are handed out.
    if (!layout.strings_part.empty()) {
      bool started = false;
      if (threads) {
        std::shared_ptr<Package> second = package_->reopen();
        try {
          strings_done_ =
              std::async(std::launch::async, [this, second, part = layout.strings_part] {
                return ReadSharedStrings(*second, part, &cancel_);
              });
          started = true;
        } catch (const std::system_error&) {
          // No thread to be had: read the table here.
        }
      }
      if (!started)
        strings_ =
            std::make_shared<const StringTable>(ReadSharedStrings(*package_, layout.strings_part));
    }

    sheet_.styles = formats_.size();
    sheet_.date1904 = date1904_;
    sheet_.batch_rows = kBatchRows;
    sheet_.batch_bytes = kBatchBytes;
    sheet_parser_ =
        std::make_unique<PartParser>(*package_, sheet_part_, true, &sheet_, &cancel_, threads);
    sheet_.parser = sheet_parser_.get();
    // Up to the rows: the sheet's used range, and any fault before them, come out now.
    if (!sheet_parser_->run()) {
      head_done_ = true;
      return;
    }
    if (!threads) return;
    startSplit();
    try {
      producer_ = std::thread([this] { produce(); });
    } catch (const std::system_error&) {
      // No thread to be had: the rows are read on the caller's thread.
    }
  }

  // A large sheet: a second parser reads it from a row past its middle.
  void startSplit() {
    if (sheet_parser_->size() <= package_->limits().split_from || sheet_.sheet_data_tag.empty())
      return;
    auto split = std::make_shared<RowSplit>();
    split->half = sheet_parser_->size() / 2;
    split->sheet_data = sheet_.sheet_data_tag;
    std::shared_ptr<Package> second;
    try {
      second = package_->reopen();
    } catch (...) {
      return;  // gone since: one parser reads the sheet, from the open it has
    }
    split_ = split;
    try {
      tail_thread_ = std::thread([this, second] { readTail(*second); });
    } catch (const std::system_error&) {
      split_.reset();
      return;
    }
    // The head looks for the tail from its first row on.
    sheet_.split = split.get();
    sheet_.split_open = true;
  }

  // The tail's thread: its rows, held until the head meets them (or dropped).
  void readTail(Package& package) {
    bool kept = false;
    try {
      SheetStream sheet;
      sheet.styles = formats_.size();
      sheet.date1904 = date1904_;
      sheet.batch_rows = kTailBatchRows;
      sheet.batch_bytes = kTailBatchBytes;
      sheet.split = split_.get();
      sheet.tail = true;
      PartParser parser(package, sheet_part_, true, &sheet, &split_->cancel, true);
      sheet.parser = &parser;
      RowSplit* split = split_.get();
      parser.startWith([split](PartParser& p) { return SeekTail(p, *split); },
                       kMaxTokenBytes - 2 * kChunk);
      for (bool more = true; more;) {
        const size_t room = tail_rows_.empty() ? 0 : tail_rows_.back().cells.size();
        PackedRows& rows = tail_rows_.emplace_back();
        rows.cells.reserve(room);
        sheet.out = &rows;
        more = parser.run();
        if (rows.rows.empty()) tail_rows_.pop_back();
      }
      kept = true;
    } catch (...) {
      // The head reads on through the fault by itself.
      std::vector<PackedRows>().swap(tail_rows_);
    }
    split_->tailDone(kept);
  }

  // The sheet's thread: parses batches until the rows end, fail or are given up.
  void produce() {
    for (;;) {
      std::unique_ptr<Batch> b;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return cancel_.load() || queued_bytes_ < kAheadBytes; });
        if (cancel_.load()) return;
        if (!free_.empty()) {
          b = std::move(free_.back());
          free_.pop_back();
        }
      }
      if (!b) b = std::make_unique<Batch>();
      ParseBatch(sheet_, *sheet_parser_, *b);
      const bool last = b->last;
      {
        std::lock_guard lock(mutex_);
        queued_bytes_ += b->rows.bytes();
        ready_.push_back(std::move(b));
      }
      changed_.notify_all();
      if (last) return;
    }
  }

  // The next batch of rows for the caller: the head's, then the tail's when
  // its rows count; false after the last.
  bool nextBatch() {
    taken_ = 0;
    if (in_tail_) {
      if (tail_at_ == tail_rows_.size()) return false;
      current_->rows = std::move(tail_rows_[tail_at_++]);
      return true;
    }
    if (head_done_) {
      if (!split_ || !split_->held) return false;
      in_tail_ = true;
      if (!current_) current_ = std::make_unique<Batch>();
      current_->error = nullptr;
      return nextBatch();
    }
    if (producer_.joinable()) {
      std::unique_lock lock(mutex_);
      if (current_) free_.push_back(std::move(current_));
      changed_.notify_all();
      changed_.wait(lock, [&] { return !ready_.empty(); });
      current_ = std::move(ready_.front());
      ready_.pop_front();
      queued_bytes_ -= current_->rows.bytes();
      lock.unlock();
      changed_.notify_all();
    } else {
      if (!current_) current_ = std::make_unique<Batch>();
      ParseBatch(sheet_, *sheet_parser_, *current_);
    }
    if (current_->last) head_done_ = true;
    return true;
  }

  // Row i of a batch as typed cells, its shared strings looked up.
  void unpack(const PackedRows& rows, size_t i, TypedRow& row) const {
    const PackedRow& packed = rows.rows[i];
    const uint32_t begin = i == 0 ? 0 : rows.rows[i - 1].end;
    row.row = packed.row;
    row.cells.resize(packed.end - begin);
    for (uint32_t k = begin; k < packed.end; ++k) {
      const PackedCell& p = rows.cells[k];
      TypedCell& c = row.cells[k - begin];
      c.column = p.column;
      c.number = 0;
      c.boolean = false;
      c.format_id = 0;
      c.format_code.clear();
      c.text.clear();
      c.shared_string = -1;
      switch (p.kind) {
        case PackedKind::Number:
          c.type = TypedCell::Type::Number;
          c.number = p.number;
          setFormat(c, p.style);
          break;
        case PackedKind::Date:
          c.type = TypedCell::Type::Number;
          c.number = p.number;
          // A date shows as a date even in a cell whose style shows none.
          if (formats_[p.style].shows_date)
            setFormat(c, p.style);
          else
            c.format_id = p.flag ? kBuiltinDateTime : kBuiltinDate;
          break;
        case PackedKind::Boolean:
          c.type = TypedCell::Type::Boolean;
          c.boolean = p.flag != 0;
          break;
        case PackedKind::Shared: {
          if (p.shared >= strings_->size())
            Fail("cell " + CellName(row.row, c.column) + " refers to shared string " +
                 std::to_string(p.shared) + ", but the table holds only " +
                 std::to_string(strings_->size()));
          c.type = TypedCell::Type::Text;
          const std::string_view text = strings_->at(size_t(p.shared));
          c.text.assign(text.data(), text.size());
          c.shared_string = int64_t(p.shared);
          break;
        }
        case PackedKind::Text:
        case PackedKind::Error:
          c.type = p.kind == PackedKind::Text ? TypedCell::Type::Text : TypedCell::Type::Error;
          c.text.assign(rows.texts, p.text.at, p.text.size);
          break;
      }
    }
  }

  void setFormat(TypedCell& c, uint32_t style) const {
    const CellFormat& f = formats_[style];
    c.format_id = f.id;
    if (!f.code.empty()) c.format_code = f.code;
  }

  bool finish() {
    done_ = true;
    stop();
    return false;
  }

  // Ends every thread (idempotent).
  void stop() {
    cancel_.store(true);
    if (split_) split_->headGone();
    { std::lock_guard lock(mutex_); }
    changed_.notify_all();
    if (producer_.joinable()) producer_.join();
    if (tail_thread_.joinable()) tail_thread_.join();
    if (strings_done_.valid()) {
      try {
        strings_done_.get();
      } catch (...) {
      }
    }
    sheet_parser_.reset();
  }

  std::unique_ptr<Package> package_;
  std::string sheet_name_;
  std::string sheet_part_;
  bool date1904_ = false;
  std::vector<CellFormat> formats_;

  std::shared_ptr<const StringTable> strings_ = std::make_shared<const StringTable>();
  std::future<StringTable> strings_done_;
  bool strings_ready_ = false;  // the table was waited for

  SheetStream sheet_;
  std::unique_ptr<PartParser> sheet_parser_;
  std::atomic<bool> cancel_{false};
  std::thread producer_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<Batch>> ready_;
  std::vector<std::unique_ptr<Batch>> free_;
  size_t queued_bytes_ = 0;

  std::shared_ptr<RowSplit> split_;  // when a tail reads the sheet's second half
  std::thread tail_thread_;
  std::vector<PackedRows> tail_rows_;  // the tail's thread's until it is done
  size_t tail_at_ = 0;
  bool in_tail_ = false;  // the head's rows are handed out; the tail's follow

  std::unique_ptr<Batch> current_;  // the batch rows are handed out from
  size_t taken_ = 0;
  bool head_done_ = false;  // current_ is the head's last batch
  bool done_ = false;
};

bool IsOle2(std::string_view head) {
  return head.size() >= 8 && head.substr(0, 8) == "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
}

[[noreturn]] void FailOle2(std::string_view file) {
  bool encrypted = false;
  try {
    ReadCfbStream(file, {"EncryptionInfo"});
    encrypted = true;
  } catch (const SheetError&) {
  }
  if (encrypted)
    FailAs(
        Reason::WorkbookEncrypted,
        "the workbook is encrypted (it needs a password to open); save it without a password and "
        "try again");
  FailAs(Reason::NotAWorkbook,
         "the file is an .xls workbook (an OLE2 compound file), not an .xlsx package");
}
}  // namespace

std::unique_ptr<WorkbookReader> OpenXlsxReader(const std::string& path, const XlsxLimits& limits) {
  char head[8] = {};
  ssize_t got = 0;
  {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
      throw SheetError(Reason::FileUnreadable, "cannot open " + path + ": " + std::strerror(errno),
                       path, errno);
    got = ::read(fd, head, sizeof head);
    ::close(fd);
  }
  const std::string_view h(head, got > 0 ? size_t(got) : 0);
  if (IsOle2(h)) {
    // An encrypted package is an OLE2 file: its first bytes are looked
    // through for the encryption stream.
    FILE* f = std::fopen(path.c_str(), "rb");
    std::string data;
    if (f) {
      char buf[65536];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && data.size() < kMaxOle2Bytes)
        data.append(buf, n);
      std::fclose(f);
    }
    FailOle2(data);
  }
  if (got <= 0) FailAs(Reason::NotAWorkbook, "the file is empty");
  if (h.substr(0, 2) != "PK") FailAs(Reason::NotAWorkbook, "the file is no zip package");
  return std::make_unique<XlsxReader>(std::make_unique<Package>(path, limits));
}

std::unique_ptr<WorkbookReader> OpenXlsxReader(const std::string& path) {
  return OpenXlsxReader(path, XlsxLimits());
}

std::unique_ptr<WorkbookReader> OpenXlsxReaderFromMemory(std::string bytes,
                                                         const XlsxLimits& limits) {
  if (IsOle2(bytes)) FailOle2(bytes);
  if (bytes.empty()) FailAs(Reason::NotAWorkbook, "the file is empty");
  if (bytes.substr(0, 2) != "PK") FailAs(Reason::NotAWorkbook, "the file is no zip package");
  auto data = std::make_shared<const std::string>(std::move(bytes));
  return std::make_unique<XlsxReader>(std::make_unique<Package>(std::move(data), limits));
}

}  // namespace xb::sheet
