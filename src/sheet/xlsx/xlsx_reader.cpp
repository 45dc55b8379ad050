// The .xlsx reader: libzip for the package, expat for each part's XML, the
// active sheet parsed as a stream that pauses after every row that holds a
// cell. Faults found inside an expat callback stop the parser and are thrown
// once control is back in C++ (never through expat's C frames).

#include "sheet/xlsx/xlsx_reader.h"

#include <expat.h>
#include <fcntl.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <future>
#include <map>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "sheet/cell_text.h"
#include "sheet/cfb.h"
#include "sheet/sheet.h"
#include "text/ascii.h"

namespace xb::sheet {
namespace {

constexpr size_t kChunk = 128 * 1024;
// A start tag, comment or other token that runs on this long is refused:
// expat would otherwise hold all of it in memory at once.
constexpr uint64_t kMaxTokenBytes = uint64_t(16) << 20;
constexpr size_t kMaxCellFormats = 65536;

// The spreadsheetml namespace and relationship types of Strict Open XML.
constexpr std::string_view kStrictMain = "http://purl.oclc.org/ooxml/spreadsheetml/main";
constexpr std::string_view kStrictRelationships =
    "http://purl.oclc.org/ooxml/officeDocument/relationships/";
constexpr const char* kStrictReason =
    "the workbook is saved as Strict Open XML, which cannot be read; save it as an ordinary Excel "
    "workbook (.xlsx) and try again";

[[noreturn]] void Fail(const std::string& why) { throw SheetError(Reason::WorkbookDamaged, why); }
[[noreturn]] void FailAs(Reason reason, const std::string& why, std::string subject = {}) {
  throw SheetError(reason, why, std::move(subject));
}

// The name after its last colon. Called for every tag and attribute of a
// sheet: one pass, no library call (the names are a few characters).
std::string_view LocalName(const char* name) {
  const char* local = name;
  const char* p = name;
  for (; *p; ++p)
    if (*p == ':') local = p + 1;
  return std::string_view(local, size_t(p - local));
}

// s == literal, compared inline (the length is known when compiled).
template <size_t N>
bool Is(std::string_view s, const char (&literal)[N]) {
  return s.size() == N - 1 && std::memcmp(s.data(), literal, N - 1) == 0;
}

const char* Attr(const char** atts, std::string_view local) {
  for (int i = 0; atts[i]; i += 2)
    if (LocalName(atts[i]) == local) return atts[i + 1];
  return nullptr;
}

bool EndsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

bool ParseUint(std::string_view s, uint64_t& out) {
  s = text::Trimmed(s);
  if (s.empty()) return false;
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && ptr == s.data() + s.size();
}

bool IsTrue(const char* v) {
  return v && (std::strcmp(v, "1") == 0 || std::strcmp(v, "true") == 0);
}

// Characters as the spreadsheet application counts them: UTF-16 units.
size_t Utf16Length(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) ++n;
    if (c >= 0xF0) ++n;
  }
  return n;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | cp >> 6);
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | cp >> 12);
    out += char(0x80 | (cp >> 6 & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | cp >> 18);
    out += char(0x80 | (cp >> 12 & 0x3F));
    out += char(0x80 | (cp >> 6 & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

// Reads the _xHHHH_ escape at s[i] (the form the file uses for characters
// XML cannot carry, such as a carriage return); -1 when there is none.
int EscapeAt(std::string_view s, size_t i) {
  if (i + 7 > s.size() || s[i] != '_' || s[i + 1] != 'x' || s[i + 6] != '_') return -1;
  int v = 0;
  for (size_t k = i + 2; k < i + 6; ++k) {
    const char c = s[k];
    v <<= 4;
    if (c >= '0' && c <= '9')
      v |= c - '0';
    else if (c >= 'a' && c <= 'f')
      v |= c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v |= c - 'A' + 10;
    else
      return -1;
  }
  return v;
}

// Replaces the _xHHHH_ escapes of a text in place.
void DecodeEscapes(std::string& s) {
  if (s.find("_x") == std::string::npos) return;
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const int v = EscapeAt(s, i);
    if (v < 0) {
      out += s[i++];
      continue;
    }
    i += 7;
    uint32_t cp = uint32_t(v);
    if (cp >= 0xD800 && cp < 0xDC00) {
      const int low = EscapeAt(s, i);
      if (low >= 0xDC00 && low < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + uint32_t(low - 0xDC00);
        i += 7;
      } else {
        cp = 0xFFFD;
      }
    } else if (cp >= 0xDC00 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  s.swap(out);
}

// "B12" -> column 2, row 12; row 0 when the reference names no row.
bool ParseCellRef(const char* ref, int& column, int& row) {
  column = 0;
  row = 0;
  const char* p = ref;
  while (*p >= 'A' && *p <= 'Z') {
    column = column * 26 + (*p - 'A' + 1);
    if (column > kXlsxMaxColumns) return false;
    ++p;
  }
  if (*p == '$') return false;
  while (*p >= '0' && *p <= '9') {
    row = row * 10 + (*p - '0');
    if (row > kXlsxMaxRows) return false;
    ++p;
  }
  return *p == '\0' && column > 0;
}

// The serial number of an ISO 8601 date-time (cells of type d).
bool ParseIsoDate(std::string_view s, bool date1904, double& serial, bool& has_time) {
  s = text::Trimmed(s);
  int y = 0, m = 0, d = 0, hh = 0, mm = 0;
  double ss = 0;
  auto num = [&](size_t at, size_t len, int& out) {
    if (at + len > s.size()) return false;
    const auto [ptr, ec] = std::from_chars(s.data() + at, s.data() + at + len, out);
    return ec == std::errc() && ptr == s.data() + at + len;
  };
  size_t pos = 0;
  bool has_date = false;
  if (s.size() >= 10 && s[4] == '-' && s[7] == '-') {
    if (!num(0, 4, y) || !num(5, 2, m) || !num(8, 2, d)) return false;
    if (m < 1 || m > 12 || d < 1 || d > 31) return false;
    has_date = true;
    pos = 10;
    if (pos < s.size() && s[pos] == 'T') ++pos;
  }
  has_time = false;
  if (pos < s.size() && s.size() - pos >= 8 && s[pos + 2] == ':' && s[pos + 5] == ':') {
    if (!num(pos, 2, hh) || !num(pos + 3, 2, mm)) return false;
    size_t end = pos + 6;
    while (end < s.size() && (std::isdigit(uint8_t(s[end])) || s[end] == '.')) ++end;
    const auto [ptr, ec] = std::from_chars(s.data() + pos + 6, s.data() + end, ss);
    if (ec != std::errc() || ptr != s.data() + end) return false;
    if (hh > 23 || mm > 59 || ss >= 61) return false;
    has_time = hh || mm || ss > 0;
    pos = end;
  }
  if (pos < s.size() && s.substr(pos) != "Z") return false;
  if (!has_date && pos == 0) return false;
  double days = 0;
  if (has_date) {
    // Days from 1970-01-01 (proleptic Gregorian).
    const int yy = y - (m <= 2);
    const int era = (yy >= 0 ? yy : yy - 399) / 400;
    const unsigned yoe = unsigned(yy - era * 400);
    const unsigned doy = unsigned((153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1);
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long z = (long long)era * 146097 + (long long)doe - 719468;
    if (date1904) {
      days = double(z + 24107);
    } else {
      days = double(z + 25569);
      if (days < 61) days -= 1;  // before the 29 February 1900 that never was
    }
    if (days < 0) return false;
  }
  serial = days + (hh * 3600 + mm * 60 + ss) / 86400.0;
  return true;
}

// ---------------------------------------------------------------------------
// The package.

struct PartInfo {
  zip_uint64_t index = 0;
  std::string name;
  uint64_t size = 0;
};

std::string ZipOpenReason(int code, bool starts_as_zip);

// One open of the package. libzip's archives are not shared between threads,
// so each thread that reads parts opens the package for itself.
class Package {
 public:
  Package(const std::string& path, const XlsxLimits& limits) : path_(path), limits_(limits) {
    int code = 0;
    zip_ = zip_open(path.c_str(), ZIP_RDONLY, &code);
    if (!zip_) Fail(ZipOpenReason(code, true));
  }
  Package(std::shared_ptr<const std::string> data, const XlsxLimits& limits)
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
  }
  ~Package() { zip_discard(zip_); }
  Package(const Package&) = delete;
  Package& operator=(const Package&) = delete;

  const XlsxLimits& limits() const { return limits_; }
  std::unique_ptr<Package> reopen() const {
    return data_ ? std::make_unique<Package>(data_, limits_)
                 : std::make_unique<Package>(path_, limits_);
  }

  zip_int64_t entries() const { return zip_get_num_entries(zip_, 0); }
  bool has(const std::string& name) const {
    return zip_name_locate(zip_, name.c_str(), ZIP_FL_NOCASE) >= 0;
  }

  // Opens a part for reading after checking its sizes against the limits.
  zip_file_t* open(const std::string& name, bool large, PartInfo& info) {
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
      Fail("the part " + name + " unpacks to " + std::to_string(st.size) +
           " bytes, more than the " + std::to_string(limit) + " a workbook part may hold");
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

 private:
  std::string path_;
  std::shared_ptr<const std::string> data_;  // the package when read from memory
  XlsxLimits limits_;
  zip_t* zip_ = nullptr;
};

// ---------------------------------------------------------------------------
// One part's XML, parsed as it is unpacked.

class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  virtual void start(std::string_view name, const char** atts) = 0;
  virtual void end(std::string_view name) = 0;
  virtual void text(const char*, int) {}
};

// Unpacks a part on a thread of its own, a few chunks ahead of its parser,
// so that inflating and parsing the sheet take two cores. read() answers as
// zip_fread would.
class ReadAhead {
 public:
  explicit ReadAhead(zip_file_t* file) : file_(file) {
    thread_ = std::thread([this] { fill(); });
  }
  ~ReadAhead() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Up to size bytes (a chunk is never larger than kChunk); 0 at the end,
  // -1 when the part cannot be unpacked (error() says why).
  zip_int64_t read(void* buffer, size_t size) {
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
  const std::string& error() const { return error_; }

 private:
  static constexpr size_t kAhead = 4;

  void fill() {
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

  zip_file_t* file_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<char>> ready_;
  std::vector<std::vector<char>> free_;
  bool stop_ = false, done_ = false, failed_ = false;
  std::string error_;
  std::thread thread_;
};

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
  void giveUp() {
    {
      std::lock_guard lock(mutex_);
      cancel = true;
    }
    changed_.notify_all();
  }
  void headGone() {
    {
      std::lock_guard lock(mutex_);
      head_gone_ = true;
      cancel = true;
    }
    changed_.notify_all();
  }
  void firstRow(int row) {
    {
      std::lock_guard lock(mutex_);
      first_row_ = row;
    }
    changed_.notify_all();
  }
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

// Where a row's start tag ("<row" or "<prefix:row", then a blank, '>' or
// '/') begins in s at or after from; npos when none does, or when one may
// begin within the last bytes, which need what follows to tell.
size_t FindRowTag(std::string_view s, size_t from, bool at_end) {
  constexpr size_t kLongestPrefix = 64;
  for (size_t i = s.find('<', from); i != std::string_view::npos; i = s.find('<', i + 1)) {
    if (!at_end && s.size() - i < kLongestPrefix + 6) return std::string_view::npos;
    size_t j = i + 1;
    const size_t name = j;
    while (j < s.size() && j - name <= kLongestPrefix &&
           (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_' || s[j] == '.' ||
            s[j] == '-'))
      ++j;
    if (j < s.size() && s[j] == ':' && j > name) {
      ++j;
    } else {
      j = name;
    }
    if (s.substr(j, 3) != "row" || j + 3 >= s.size()) continue;
    const char after = s[j + 3];
    if (after == ' ' || after == '\t' || after == '\r' || after == '\n' || after == '>' ||
        after == '/')
      return i;
  }
  return std::string_view::npos;
}

class PartParser {
 public:
  PartParser(Package& package, const std::string& name, bool large, XmlHandler* handler,
             const std::atomic<bool>* cancel = nullptr, bool read_ahead = false)
      : handler_(handler), cancel_(cancel) {
    file_ = package.open(name, large, info_);
    parser_ = XML_ParserCreate(nullptr);
    if (!parser_) {
      zip_fclose(file_);
      throw std::bad_alloc();
    }
    if (read_ahead) {
      try {
        ahead_ = std::make_unique<ReadAhead>(file_);
      } catch (const std::system_error&) {
        // No thread to be had: the parser unpacks as it goes.
      }
    }
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &PartParser::OnStart, &PartParser::OnEnd);
    XML_SetCharacterDataHandler(parser_, &PartParser::OnText);
    XML_SetStartDoctypeDeclHandler(parser_, &PartParser::OnDoctype);
    XML_SetEntityDeclHandler(parser_, &PartParser::OnEntity);
    XML_SetXmlDeclHandler(parser_, &PartParser::OnXmlDecl);
    XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
  }
  ~PartParser() {
    ahead_.reset();  // its thread reads file_ until it ends
    XML_ParserFree(parser_);
    zip_fclose(file_);
  }
  PartParser(const PartParser&) = delete;
  PartParser& operator=(const PartParser&) = delete;

  const std::string& name() const { return info_.name; }
  uint64_t size() const { return info_.size; }
  // In a start handler: the element's name as the part spells it, and where
  // its tag starts in the part.
  const char* rawName() const { return raw_name_; }
  int64_t offset() const { return int64_t(XML_GetCurrentByteIndex(parser_)); }
  // The part is UTF-8 (no other encoding declared, no UTF-16 byte order mark).
  bool utf8() const { return utf8_; }

  // Makes this parser a split's tail: it unpacks the part up to the split's
  // middle, parses from the first row tag after it behind a made-up start of
  // sheetData, and gives up when the split is.
  void startAtTail(RowSplit* split) {
    tail_ = split;
    cancel_ = &split->cancel;
    // Its reasons are never shown: a tail that fails leaves the rows to the
    // head. Any tag the head's limit may refuse, it refuses too.
    max_quiet_ = kMaxTokenBytes - 2 * kChunk;
  }

  // Parses until the handler pauses (true) or the part ends (false).
  bool run() {
    if (finished_) return false;
    if (tail_ && !sought_) {
      sought_ = true;
      if (!seekRow()) Fail("no row to start the second parser at");
    }
    if (suspended_) {
      suspended_ = false;
      check(XML_ResumeParser(parser_));
      if (suspended_) return true;
      if (finished_ || stopped_) return finish();
      if (final_fed_) return finish();
    }
    for (;;) {
      if (cancel_ && cancel_->load(std::memory_order_relaxed)) Fail("reading was given up");
      void* buffer = XML_GetBuffer(parser_, int(kChunk));
      if (!buffer) FailAs(Reason::OutOfMemory, "not enough memory to read the part " + info_.name);
      zip_int64_t n = 0;
      if (pending_at_ < pending_.size()) {
        // What the tail's search unpacked ahead, first.
        n = zip_int64_t(std::min(kChunk, pending_.size() - pending_at_));
        std::memcpy(buffer, pending_.data() + pending_at_, size_t(n));
        pending_at_ += size_t(n);
        if (pending_at_ == pending_.size()) std::string().swap(pending_);
      } else {
        n = unpack(buffer);
        if (read_ == uint64_t(n) && n >= 2) {
          const auto* b = static_cast<const unsigned char*>(buffer);
          if ((b[0] == 0xFE && b[1] == 0xFF) || (b[0] == 0xFF && b[1] == 0xFE)) utf8_ = false;
        }
      }
      final_fed_ = n == 0;
      const uint64_t before = events_;
      check(XML_ParseBuffer(parser_, int(n), final_fed_));
      if (events_ == before) {
        quiet_bytes_ += uint64_t(n);
        if (quiet_bytes_ > max_quiet_)
          Fail("the part " + info_.name + " holds a single XML tag or comment of more than " +
               std::to_string(kMaxTokenBytes >> 20) + " MB");
      } else {
        quiet_bytes_ = 0;
      }
      if (suspended_) return true;
      if (stopped_ || final_fed_) return finish();
    }
  }

  // Reads the whole part.
  void runToEnd() {
    while (run()) {
    }
  }

  // For the handler: pause after the current element (run returns true).
  void pause() {
    suspended_ = true;
    XML_StopParser(parser_, XML_TRUE);
  }
  // For the handler: the rest of the part is not needed.
  void stop() {
    if (stopped_ || !error_.empty()) return;
    stopped_ = true;
    XML_StopParser(parser_, XML_FALSE);
  }
  // For the handler: the part is refused for this reason.
  void fail(std::string why) {
    if (!error_.empty()) return;
    error_ = std::move(why);
    suspended_ = false;
    XML_StopParser(parser_, XML_FALSE);
  }
  bool failed() const { return !error_.empty(); }

 private:
  bool finish() {
    finished_ = true;
    return false;
  }

  // The next unpacked bytes of the part (0 at its end), counted against its size.
  zip_int64_t unpack(void* buffer) {
    const zip_int64_t n = ahead_ ? ahead_->read(buffer, kChunk) : zip_fread(file_, buffer, kChunk);
    if (n < 0)
      Fail("the part " + info_.name +
           " is damaged: " + (ahead_ ? ahead_->error() : std::string(zip_file_strerror(file_))));
    read_ += uint64_t(n);
    if (read_ > info_.size)
      Fail("the part " + info_.name + " unpacks to more bytes than its entry says (" +
           std::to_string(info_.size) + ")");
    return n;
  }

  // The tail's start: unpacks up to the middle, then looks for a row tag
  // (within the longest tag the head would take) and claims its place. The
  // bytes from there are fed behind a made-up start of sheetData.
  bool seekRow() {
    std::string window;      // unpacked bytes from the middle on
    uint64_t window_at = 0;  // where window starts in the part
    size_t searched = 0;
    std::vector<char> chunk(kChunk);
    for (;;) {
      if (cancel_->load(std::memory_order_relaxed)) Fail("reading was given up");
      const zip_int64_t n = unpack(chunk.data());
      const bool at_end = n == 0;
      if (read_ > tail_->half) {
        const uint64_t skip =
            read_ - uint64_t(n) >= tail_->half ? 0 : tail_->half - (read_ - uint64_t(n));
        if (window.empty()) window_at = read_ - uint64_t(n) + skip;
        window.append(chunk.data() + skip, size_t(n) - size_t(skip));
        const size_t found = FindRowTag(window, searched, at_end);
        if (found != std::string::npos) {
          if (!tail_->claim(int64_t(window_at + found))) return false;
          pending_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><x><" + tail_->sheet_data + ">";
          pending_.append(window, found, std::string::npos);
          return true;
        }
        searched = window.size() > 80 ? window.size() - 80 : 0;
        if (window.size() > kMaxTokenBytes) break;
      }
      if (at_end) break;
    }
    tail_->claim(RowSplit::kAbandoned);
    return false;
  }

  void check(XML_Status status) {
    if (!error_.empty()) Fail(error_);
    if (status == XML_STATUS_ERROR) {
      const XML_Error code = XML_GetErrorCode(parser_);
      if (code == XML_ERROR_ABORTED && stopped_) return;
      Fail("the part " + info_.name + " is no well-formed XML (line " +
           std::to_string(XML_GetCurrentLineNumber(parser_)) + "): " + XML_ErrorString(code));
    }
  }

  static void XMLCALL OnStart(void* self, const XML_Char* name, const XML_Char** atts) {
    auto* p = static_cast<PartParser*>(self);
    ++p->events_;
    p->raw_name_ = name;
    if (p->error_.empty()) p->handler_->start(LocalName(name), atts);
  }
  static void XMLCALL OnXmlDecl(void* self, const XML_Char*, const XML_Char* encoding, int) {
    auto* p = static_cast<PartParser*>(self);
    if (encoding && !text::EqualsIgnoringCase(encoding, "UTF-8")) p->utf8_ = false;
  }
  static void XMLCALL OnEnd(void* self, const XML_Char* name) {
    auto* p = static_cast<PartParser*>(self);
    ++p->events_;
    if (p->error_.empty()) p->handler_->end(LocalName(name));
  }
  static void XMLCALL OnText(void* self, const XML_Char* s, int len) {
    auto* p = static_cast<PartParser*>(self);
    ++p->events_;
    if (p->error_.empty()) p->handler_->text(s, len);
  }
  static void XMLCALL OnDoctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*,
                                int) {
    auto* p = static_cast<PartParser*>(self);
    p->fail("the part " + p->info_.name +
            " declares a DOCTYPE, which a workbook never holds: refused");
  }
  static void XMLCALL OnEntity(void* self, const XML_Char*, int, const XML_Char*, int,
                               const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*) {
    auto* p = static_cast<PartParser*>(self);
    p->fail("the part " + p->info_.name +
            " declares an XML entity, which a workbook never holds: refused");
  }

  XmlHandler* handler_;
  const std::atomic<bool>* cancel_;
  PartInfo info_;
  zip_file_t* file_ = nullptr;
  std::unique_ptr<ReadAhead> ahead_;
  XML_Parser parser_ = nullptr;
  uint64_t read_ = 0;
  uint64_t events_ = 0;
  uint64_t quiet_bytes_ = 0;
  uint64_t max_quiet_ = kMaxTokenBytes;
  const char* raw_name_ = "";
  bool utf8_ = true;
  RowSplit* tail_ = nullptr;  // set for a split's tail
  bool sought_ = false;
  std::string pending_;  // fed before the rest of the part
  size_t pending_at_ = 0;
  bool suspended_ = false;
  bool stopped_ = false;
  bool finished_ = false;
  bool final_fed_ = false;
  std::string error_;
};

// ---------------------------------------------------------------------------
// Package structure: content types, relationships, workbook, styles, strings.

enum class MainKind { None, Workbook, Binary, OtherDocument };

struct ContentTypes : XmlHandler {
  std::string workbook_part;  // without the leading '/'
  MainKind kind = MainKind::None;
  void start(std::string_view name, const char** atts) override {
    if (name != "Override") return;
    const char* part = Attr(atts, "PartName");
    const char* type = Attr(atts, "ContentType");
    if (!part || !type) return;
    const std::string_view t(type);
    MainKind k = MainKind::None;
    if (t == "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml" ||
        t == "application/vnd.ms-excel.sheet.macroEnabled.main+xml" ||
        t == "application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml" ||
        t == "application/vnd.ms-excel.template.macroEnabled.main+xml") {
      k = MainKind::Workbook;
    } else if (t == "application/vnd.ms-excel.sheet.binary.macroEnabled.main") {
      k = MainKind::Binary;
    } else if (EndsWith(t, ".document.main+xml") || EndsWith(t, ".presentation.main+xml") ||
               EndsWith(t, ".document.macroEnabled.main+xml") ||
               EndsWith(t, ".presentation.macroEnabled.main+xml")) {
      k = MainKind::OtherDocument;
    }
    if (k == MainKind::None || kind == MainKind::Workbook) return;
    kind = k;
    workbook_part = part[0] == '/' ? part + 1 : part;
  }
  void end(std::string_view) override {}
};

struct Relationship {
  std::string id, type, target;
  bool external = false;
};

struct Relationships : XmlHandler {
  std::vector<Relationship> items;
  void start(std::string_view name, const char** atts) override {
    if (name != "Relationship" || items.size() >= 100000) return;
    Relationship r;
    if (const char* v = Attr(atts, "Id")) r.id = v;
    if (const char* v = Attr(atts, "Type")) r.type = v;
    if (const char* v = Attr(atts, "Target")) r.target = v;
    if (const char* v = Attr(atts, "TargetMode")) r.external = std::strcmp(v, "External") == 0;
    items.push_back(std::move(r));
  }
  void end(std::string_view) override {}
};

std::string DirOf(const std::string& part) {
  const size_t slash = part.rfind('/');
  return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

std::string RelsOf(const std::string& part) {
  const size_t slash = part.rfind('/');
  const std::string base = slash == std::string::npos ? part : part.substr(slash + 1);
  return DirOf(part) + "_rels/" + base + ".rels";
}

// A relationship's target as a part name (no leading '/').
std::string ResolveTarget(const std::string& source_dir, const std::string& target) {
  std::string decoded;
  for (size_t i = 0; i < target.size(); ++i) {
    if (target[i] == '%' && i + 2 < target.size() && std::isxdigit(uint8_t(target[i + 1])) &&
        std::isxdigit(uint8_t(target[i + 2]))) {
      decoded += char(std::stoi(target.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      decoded += target[i];
    }
  }
  const std::string path =
      !decoded.empty() && decoded[0] == '/' ? decoded.substr(1) : source_dir + decoded;
  std::vector<std::string> parts;
  size_t begin = 0;
  while (begin <= path.size()) {
    size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    const std::string segment = path.substr(begin, end - begin);
    if (segment == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!segment.empty() && segment != ".") {
      parts.push_back(segment);
    }
    begin = end + 1;
  }
  std::string out;
  for (const auto& p : parts) {
    if (!out.empty()) out += '/';
    out += p;
  }
  return out;
}

struct SheetEntry {
  std::string name, rel_id;
};

struct WorkbookPart : XmlHandler {
  PartParser* parser = nullptr;
  std::vector<SheetEntry> sheets;
  int active_tab = 0;
  bool date1904 = false;
  bool strict = false;
  bool seen_view = false;
  bool seen_root = false;
  void start(std::string_view name, const char** atts) override {
    if (!seen_root) {
      seen_root = true;
      for (int i = 0; atts[i]; i += 2)
        if (std::string_view(atts[i]).substr(0, 5) == "xmlns" && atts[i + 1] == kStrictMain)
          strict = true;
      if (const char* c = Attr(atts, "conformance"); c && std::strcmp(c, "strict") == 0)
        strict = true;
      if (strict) parser->stop();
      return;
    }
    if (name == "workbookPr") {
      date1904 = IsTrue(Attr(atts, "date1904"));
    } else if (name == "workbookView" && !seen_view) {
      seen_view = true;
      uint64_t tab = 0;
      if (const char* v = Attr(atts, "activeTab"); v && ParseUint(v, tab) && tab < 65536)
        active_tab = int(tab);
    } else if (name == "sheet") {
      if (sheets.size() >= 65536) return parser->fail("the workbook lists more than 65,536 sheets");
      SheetEntry s;
      if (const char* v = Attr(atts, "name")) s.name = v;
      if (const char* v = Attr(atts, "id")) s.rel_id = v;
      sheets.push_back(std::move(s));
    }
  }
  void end(std::string_view) override {}
};

struct SharedStrings : XmlHandler {
  PartParser* parser = nullptr;
  StringTable table;
  std::string current;
  int si_depth = 0, rph_depth = 0;
  bool in_t = false;
  void start(std::string_view name, const char** atts) override {
    if (Is(name, "si")) {
      ++si_depth;
      current.clear();
    } else if (Is(name, "rPh")) {
      ++rph_depth;
    } else if (Is(name, "t")) {
      in_t = si_depth > 0 && rph_depth == 0;
    } else if (Is(name, "sst")) {
      uint64_t count = 0;
      if (const char* v = Attr(atts, "uniqueCount"); v && ParseUint(v, count))
        table.ends.reserve(size_t(std::min<uint64_t>(count, 1 << 20)));
    }
  }
  void end(std::string_view name) override {
    if (Is(name, "t")) {
      in_t = false;
    } else if (Is(name, "rPh")) {
      if (rph_depth > 0) --rph_depth;
    } else if (Is(name, "si") && si_depth > 0) {
      --si_depth;
      DecodeEscapes(current);
      if (Utf16Length(current) > size_t(kXlsxMaxCellChars))
        return parser->fail("shared string " + std::to_string(table.size()) + " holds more than " +
                            std::to_string(kXlsxMaxCellChars) + " characters");
      if (!table.add(current)) return parser->fail("the shared strings hold too much text");
    }
  }
  void text(const char* s, int len) override {
    if (!in_t) return;
    current.append(s, size_t(len));
    // Escapes take 7 bytes for one character; beyond that the string is too long whatever it holds.
    if (current.size() > size_t(kXlsxMaxCellChars) * 7 + 7)
      parser->fail("shared string " + std::to_string(table.size()) + " holds more than " +
                   std::to_string(kXlsxMaxCellChars) + " characters");
  }
};

struct CellFormat {
  int id = 0;
  std::string code;
};

struct Styles : XmlHandler {
  PartParser* parser = nullptr;
  std::map<int, std::string> codes;
  std::vector<int> xf_ids;
  bool in_cell_xfs = false;
  int xf_depth = 0;
  void start(std::string_view name, const char** atts) override {
    if (name == "numFmt") {
      uint64_t id = 0;
      const char* code = Attr(atts, "formatCode");
      if (code && ParseUint(Attr(atts, "numFmtId") ? Attr(atts, "numFmtId") : "", id) &&
          id < 100000) {
        if (codes.size() >= kMaxCellFormats)
          return parser->fail("the styles define more than 65,536 number formats");
        codes[int(id)] = code;
      }
    } else if (name == "cellXfs") {
      in_cell_xfs = true;
    } else if (name == "xf" && in_cell_xfs) {
      if (xf_depth++ > 0) return;
      if (xf_ids.size() >= kMaxCellFormats)
        return parser->fail("the styles define more than 65,536 cell formats");
      uint64_t id = 0;
      const char* v = Attr(atts, "numFmtId");
      xf_ids.push_back(v && ParseUint(v, id) && id < 100000 ? int(id) : 0);
    }
  }
  void end(std::string_view name) override {
    if (name == "cellXfs")
      in_cell_xfs = false;
    else if (name == "xf" && xf_depth > 0)
      --xf_depth;
  }
};

// ---------------------------------------------------------------------------
// The active sheet.

class XlsxReader;

struct SheetStream : XmlHandler {
  PartParser* parser = nullptr;
  const std::vector<CellFormat>* formats = nullptr;
  std::vector<bool> xf_is_date;
  bool date1904 = false;
  size_t cell_hint = 0;

  TypedRow* out = nullptr;
  bool row_ready = false;
  bool in_sheet_data = false;
  bool in_row = false;
  int prev_row = 0;
  int row = 0;
  bool row_from_cell = false;
  size_t n_cells = 0;
  bool unsorted = false;
  int last_column = 0;

  bool in_cell = false;
  int column = 0;
  char type = 'n';
  uint32_t style = 0;
  bool in_v = false, in_t = false, in_is = false;
  int rph_depth = 0;
  bool has_v = false, has_is = false;
  std::string value;
  int depth = 0;  // elements open within sheetData

  // Read by two parsers at once (see RowSplit): the head still looks for
  // the tail's first row; or this is the tail, whose first row must say its
  // number.
  RowSplit* split = nullptr;
  bool split_open = false;
  bool tail = false;
  std::string sheet_data_tag;

  void start(std::string_view name, const char** atts) override {
    if (!in_sheet_data) {
      if (Is(name, "sheetData")) {
        in_sheet_data = true;
        sheet_data_tag = parser->rawName();
        parser->pause();  // the reader is open; rows come with nextRow
      } else if (Is(name, "dimension")) {
        readDimension(Attr(atts, "ref"));
      }
      return;
    }
    ++depth;
    if (Is(name, "c")) return startCell(atts);
    if (Is(name, "row")) return startRow(atts);
    if (!in_cell) return;
    if (Is(name, "v")) {
      in_v = true;
      value.clear();
    } else if (Is(name, "is")) {
      in_is = true;
      value.clear();
    } else if (Is(name, "rPh")) {
      ++rph_depth;
    } else if (Is(name, "t")) {
      in_t = in_is && rph_depth == 0;
    }
  }

  void end(std::string_view name) override {
    if (!in_sheet_data) return;
    if (depth > 0) --depth;
    if (Is(name, "c")) return endCell();
    if (Is(name, "row")) return endRow();
    if (Is(name, "v")) {
      if (in_v) has_v = true;
      in_v = false;
    } else if (Is(name, "t")) {
      in_t = false;
    } else if (Is(name, "rPh")) {
      if (rph_depth > 0) --rph_depth;
    } else if (Is(name, "is")) {
      if (in_is) has_is = true;
      in_is = false;
    } else if (Is(name, "sheetData")) {
      in_sheet_data = false;
      if (split_open) {
        // The rows ended before the tail's first: it is not needed.
        split_open = false;
        split->abandon();
      }
      parser->stop();  // merged cells, print settings...: nothing the import uses
    }
  }

  void text(const char* s, int len) override {
    if (!in_v && !in_t) return;
    value.append(s, size_t(len));
    if (value.size() > size_t(kXlsxMaxCellChars) * 7 + 7) tooLong();
  }

  // The used range ("A1:O100001"), for a hint of how many cells come.
  void readDimension(const char* ref) {
    if (!ref) return;
    const char* colon = std::strchr(ref, ':');
    if (!colon) return;
    const std::string first(ref, colon);
    int c1 = 0, r1 = 0, c2 = 0, r2 = 0;
    if (!ParseCellRef(first.c_str(), c1, r1) || !ParseCellRef(colon + 1, c2, r2)) return;
    if (r2 >= r1 && c2 >= c1 && r1 > 0) cell_hint = size_t(r2 - r1 + 1) * size_t(c2 - c1 + 1);
  }

  void tooLong() {
    parser->fail("cell " + CellName(row, column) + " holds more than " +
                 std::to_string(kXlsxMaxCellChars) + " characters, more than a cell can hold");
  }

  // The head at a row: has it reached the tail's first row? True when the
  // tail's rows count from here (and this parser ends).
  bool headMeetsTail() {
    const int64_t here = parser->offset();
    int64_t at = split->at.load();
    if (at == RowSplit::kUnknown) {
      if (uint64_t(here) < split->half) return false;
      at = split->place();
    }
    if (at == RowSplit::kAbandoned) {
      split_open = false;
      split->giveUp();
      return false;
    }
    if (here < at) return false;
    split_open = false;
    if (here == at && depth == 1 && !in_row && !in_cell && parser->utf8() &&
        split->meet(prev_row)) {
      split->held = true;
      return true;
    }
    split->giveUp();
    return false;
  }

  void startRow(const char** atts) {
    if (split_open && headMeetsTail()) {
      in_sheet_data = false;
      return parser->stop();
    }
    if (!out) return parser->fail("the sheet's rows came before the reader asked for them");
    if (in_row) return parser->fail("row " + std::to_string(row) + " holds another row");
    in_row = true;
    n_cells = 0;
    unsorted = false;
    last_column = 0;
    row_from_cell = false;
    if (const char* r = Attr(atts, "r")) {
      uint64_t n = 0;
      if (!ParseUint(r, n) || n < 1)
        return parser->fail(std::string("a row has the number \"") + r + "\"");
      if (n > uint64_t(kXlsxMaxRows))
        return parser->fail("row " + std::to_string(n) +
                            " lies past the last row a sheet holds (1,048,576)");
      row = int(n);
      if (row <= prev_row)
        return parser->fail("row " + std::to_string(row) + " comes after row " +
                            std::to_string(prev_row) + ": the rows are out of order");
    } else {
      if (tail && prev_row == 0) return parser->fail("the tail's first row has no number");
      if (prev_row >= kXlsxMaxRows)
        return parser->fail("the sheet has more rows than a sheet holds (1,048,576)");
      row = prev_row + 1;
      row_from_cell = true;
    }
    if (tail && prev_row == 0) split->firstRow(row);
  }

  void startCell(const char** atts) {
    if (!in_row) return parser->fail("a cell lies outside every row");
    in_cell = true;
    in_v = in_t = in_is = false;
    has_v = has_is = false;
    rph_depth = 0;
    value.clear();
    type = 'n';
    style = 0;
    const char* r = nullptr;
    const char* t = nullptr;
    const char* s = nullptr;
    for (int i = 0; atts[i]; i += 2) {
      const std::string_view a = LocalName(atts[i]);
      if (Is(a, "r"))
        r = atts[i + 1];
      else if (Is(a, "t"))
        t = atts[i + 1];
      else if (Is(a, "s"))
        s = atts[i + 1];
    }
    if (r) {
      int cell_row = 0;
      if (!ParseCellRef(r, column, cell_row))
        return parser->fail(std::string("a cell of row ") + std::to_string(row) +
                            " has the address \"" + r + "\"");
      if (row_from_cell && cell_row > 0) {
        row_from_cell = false;
        if (cell_row <= prev_row)
          return parser->fail("row " + std::to_string(cell_row) + " comes after row " +
                              std::to_string(prev_row) + ": the rows are out of order");
        row = cell_row;
      }
    } else {
      column = last_column + 1;
      if (column > kXlsxMaxColumns)
        return parser->fail("row " + std::to_string(row) +
                            " has more cells than a row holds (16,384)");
    }
    if (column <= last_column) unsorted = true;
    last_column = column;
    if (t) {
      const std::string_view tv(t);
      if (Is(tv, "n"))
        type = 'n';
      else if (Is(tv, "s"))
        type = 's';
      else if (Is(tv, "str"))
        type = 'f';
      else if (Is(tv, "inlineStr"))
        type = 'i';
      else if (Is(tv, "b"))
        type = 'b';
      else if (Is(tv, "e"))
        type = 'e';
      else if (Is(tv, "d"))
        type = 'd';
      else
        return parser->fail("cell " + CellName(row, column) + " has the unknown type \"" +
                            std::string(tv) + "\"");
    }
    if (s) {
      uint64_t v = 0;
      if (ParseUint(s, v) && v < formats->size()) style = uint32_t(v);
    }
  }

  TypedCell& newCell() {
    if (n_cells == out->cells.size()) out->cells.emplace_back();
    TypedCell& c = out->cells[n_cells++];
    c.column = column;
    c.number = 0;
    c.boolean = false;
    c.format_id = 0;
    c.format_code.clear();
    c.text.clear();
    c.shared_string = -1;
    return c;
  }

  void setText(TypedCell& c, std::string_view text) {
    c.type = TypedCell::Type::Text;
    c.text.assign(text.data(), text.size());
  }

  void endCell() {
    if (!in_cell) return;
    in_cell = false;
    in_v = in_t = in_is = false;
    switch (type) {
      case 's': {
        if (!has_v) return;
        uint64_t index = 0;
        if (!ParseUint(value, index))
          return parser->fail("cell " + CellName(row, column) + " names no shared string: \"" +
                              value.substr(0, 40) + "\"");
        // The text comes from the table when the row is handed out (the
        // table may still be read on another thread).
        TypedCell& c = newCell();
        c.type = TypedCell::Type::Text;
        c.shared_string = int64_t(std::min<uint64_t>(index, uint64_t(INT64_MAX)));
        return;
      }
      case 'f':
      case 'i': {
        if (!has_v && !has_is) return;
        DecodeEscapes(value);
        if (Utf16Length(value) > size_t(kXlsxMaxCellChars)) return tooLong();
        setText(newCell(), value);
        return;
      }
      case 'b': {
        if (!has_v) return;
        const std::string_view v = text::Trimmed(value);
        bool b;
        if (v == "1" || v == "true")
          b = true;
        else if (v == "0" || v == "false")
          b = false;
        else
          return parser->fail("cell " + CellName(row, column) + " holds no truth value: \"" +
                              value.substr(0, 40) + "\"");
        TypedCell& c = newCell();
        c.type = TypedCell::Type::Boolean;
        c.boolean = b;
        return;
      }
      case 'e': {
        if (!has_v) return;
        TypedCell& c = newCell();
        c.type = TypedCell::Type::Error;
        const std::string_view v = text::Trimmed(value);
        c.text.assign(v.data(), std::min<size_t>(v.size(), 64));
        return;
      }
      case 'd': {
        if (!has_v) return;
        double serial = 0;
        bool has_time = false;
        if (!ParseIsoDate(value, date1904, serial, has_time))
          return parser->fail("cell " + CellName(row, column) + " holds no date: \"" +
                              value.substr(0, 40) + "\"");
        TypedCell& c = newCell();
        setNumber(c, serial);
        if (!xf_is_date[style]) {
          c.format_id = has_time ? 22 : 14;
          c.format_code.clear();
        }
        return;
      }
      default: {
        if (!has_v) return;
        const std::string_view v = text::Trimmed(value);
        if (v.empty()) return;
        double number = 0;
        auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), number);
        if (ec == std::errc::result_out_of_range && ptr == v.data() + v.size()) {
          // Too small is zero (or a subnormal); too large is no number a cell holds.
          number = std::strtod(std::string(v).c_str(), nullptr);
          ec = std::isinf(number) ? std::errc::result_out_of_range : std::errc();
        }
        if (ec != std::errc() || ptr != v.data() + v.size() || !std::isfinite(number))
          return parser->fail("cell " + CellName(row, column) + " holds no number: \"" +
                              value.substr(0, 40) + "\"");
        setNumber(newCell(), number);
        return;
      }
    }
  }

  void setNumber(TypedCell& c, double number) {
    c.type = TypedCell::Type::Number;
    c.number = number;
    const CellFormat& f = (*formats)[style];
    c.format_id = f.id;
    if (!f.code.empty()) c.format_code = f.code;
  }

  void endRow() {
    if (!in_row) return;
    in_row = false;
    if (in_cell) endCell();
    prev_row = row;
    if (n_cells == 0) return;
    out->cells.resize(n_cells);
    out->row = row;
    if (unsorted) {
      std::stable_sort(out->cells.begin(), out->cells.end(),
                       [](const TypedCell& a, const TypedCell& b) { return a.column < b.column; });
      // Of two cells at one address the later one counts.
      std::vector<TypedCell> kept;
      for (auto& c : out->cells) {
        if (!kept.empty() && kept.back().column == c.column)
          kept.back() = std::move(c);
        else
          kept.push_back(std::move(c));
      }
      out->cells.swap(kept);
    }
    row_ready = true;
    parser->pause();
  }
};

// A split's tail: the rows from the tail's first row on, parsed on the
// caller's thread (the part unpacked on another) from a package of its own.
class TailReader : public WorkbookReader {
 public:
  TailReader(std::shared_ptr<Package> package, const std::string& part,
             const std::vector<CellFormat>* formats, const std::vector<bool>& xf_is_date,
             bool date1904, std::shared_ptr<RowSplit> split)
      : package_(std::move(package)), split_(std::move(split)) {
    sheet_.formats = formats;
    sheet_.xf_is_date = xf_is_date;
    sheet_.date1904 = date1904;
    sheet_.split = split_.get();
    sheet_.tail = true;
    parser_ = std::make_unique<PartParser>(*package_, part, true, &sheet_, nullptr, true);
    parser_->startAtTail(split_.get());
    sheet_.parser = parser_.get();
  }

  const std::string& activeSheetName() const override { return name_; }
  bool date1904() const override { return sheet_.date1904; }

  bool nextRow(TypedRow& row) override {
    if (done_) return false;
    try {
      sheet_.out = &row;
      for (;;) {
        sheet_.row_ready = false;
        const bool more = parser_->run();
        if (sheet_.row_ready) return true;
        if (!more) break;
      }
    } catch (...) {
      done_ = true;
      parser_.reset();
      throw;
    }
    done_ = true;
    parser_.reset();
    return false;
  }

 private:
  std::shared_ptr<Package> package_;
  std::shared_ptr<RowSplit> split_;
  SheetStream sheet_;
  std::unique_ptr<PartParser> parser_;
  std::string name_;
  bool done_ = false;
};

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

  const std::string& activeSheetName() const override { return sheet_name_; }
  bool date1904() const override { return date1904_; }
  size_t cellCountHint() const override { return sheet_.cell_hint; }

  bool leaveSharedStrings() override {
    if (!strings_ready_) leave_strings_ = true;
    return leave_strings_;
  }

  std::unique_ptr<WorkbookReader> splitRows() override {
    if (!leave_strings_ || split_ || !start_producer_ || batch_ || !sheet_parser_ ||
        sheet_parser_->size() <= package_->limits().split_from || sheet_.sheet_data_tag.empty())
      return nullptr;
    auto split = std::make_shared<RowSplit>();
    split->half = sheet_parser_->size() / 2;
    split->sheet_data = sheet_.sheet_data_tag;
    std::unique_ptr<WorkbookReader> tail;
    try {
      tail = std::make_unique<TailReader>(package_->reopen(), sheet_part_, &formats_,
                                          sheet_.xf_is_date, date1904_, split);
    } catch (...) {
      // No thread to be had, or the package cannot be opened again (gone
      // since): one parser reads the sheet, from the open it has.
      return nullptr;
    }
    // The head looks for the tail from its first row on.
    split_ = split;
    sheet_.split = split.get();
    sheet_.split_open = true;
    return tail;
  }
  void tailTaken(bool kept) override {
    if (split_) split_->tailDone(kept);
  }
  bool splitHeld() const override { return split_ && split_->held; }

  StringTable takeSharedStrings() override {
    if (!leave_strings_ || strings_ready_) return {};
    strings_ready_ = true;
    try {
      if (strings_done_.valid()) strings_done_.get();
    } catch (...) {
      done_ = true;
      stop();
      throw;
    }
    return std::move(strings_.table);
  }

  bool nextRow(TypedRow& row) override {
    if (done_) return false;
    try {
      if (start_producer_) startProducer();
      if (!strings_ready_ && !leave_strings_) {
        // Every fault of the table is the workbook's, used or not.
        if (strings_done_.valid()) strings_done_.get();
        strings_ready_ = true;
      }
      if (batch_ && taken_ == batch_->count && batch_->last) return finish();
      if (!producer_.joinable()) {
        // Read on the caller's thread: the parser pauses after each row.
        sheet_.out = &row;
        sheet_.row_ready = false;
        if (!sheet_parser_->run() && !sheet_.row_ready) return finish();
      } else {
        if (!batch_ || taken_ == batch_->count) {
          if (batch_ && batch_->last) return finish();
          nextBatch();
          if (batch_->error) std::rethrow_exception(batch_->error);
          if (batch_->count == 0) return finish();
        }
        std::swap(row, batch_->rows[taken_++]);
      }
      if (leave_strings_) return true;
      for (auto& c : row.cells) {
        if (c.shared_string < 0) continue;
        if (uint64_t(c.shared_string) >= strings_.table.size())
          Fail("cell " + CellName(row.row, c.column) + " refers to shared string " +
               std::to_string(c.shared_string) + ", but the table holds only " +
               std::to_string(strings_.table.size()));
        const std::string_view text = strings_.table.at(size_t(c.shared_string));
        c.text.assign(text.data(), text.size());
      }
      return true;
    } catch (...) {
      done_ = true;
      stop();
      throw;
    }
  }

 private:
  // Rows travel from the sheet's thread in batches.
  struct Batch {
    std::vector<TypedRow> rows;
    size_t count = 0;
    bool last = false;
    std::exception_ptr error;
  };
  static constexpr size_t kBatchRows = 256;
  static constexpr size_t kBatchesAhead = 4;

  bool finish() {
    done_ = true;
    if (leave_strings_) {
      // The sheet is over; the table is still read for takeSharedStrings.
      if (producer_.joinable()) producer_.join();
      sheet_parser_.reset();
      if (split_ && !split_->held) split_->giveUp();
    } else {
      stop();
    }
    return false;
  }

  // Takes the next batch from the sheet's thread, giving back the one used.
  void nextBatch() {
    std::unique_lock lock(mutex_);
    if (batch_) {
      free_.push_back(std::move(batch_));
      batch_.reset();
      changed_.notify_all();
    }
    changed_.wait(lock, [&] { return !ready_.empty(); });
    batch_ = std::move(ready_.front());
    ready_.pop_front();
    taken_ = 0;
    changed_.notify_all();
  }

  // The sheet's thread: parses rows into batches until the sheet ends, fails or is given up.
  void produce() {
    for (;;) {
      std::unique_ptr<Batch> b;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return cancel_.load() || ready_.size() < kBatchesAhead; });
        if (cancel_.load()) return;
        if (!free_.empty()) {
          b = std::move(free_.back());
          free_.pop_back();
        }
      }
      if (!b) b = std::make_unique<Batch>();
      b->count = 0;
      try {
        while (b->count < kBatchRows) {
          if (b->rows.size() == b->count) b->rows.emplace_back();
          TypedRow& row = b->rows[b->count];
          sheet_.out = &row;
          sheet_.row_ready = false;
          if (!sheet_parser_->run() && !sheet_.row_ready) {
            b->last = true;
            break;
          }
          ++b->count;
        }
      } catch (...) {
        b->error = std::current_exception();
        b->last = true;
      }
      const bool last = b->last;
      {
        std::lock_guard lock(mutex_);
        ready_.push_back(std::move(b));
      }
      changed_.notify_all();
      if (last) return;
    }
  }

  // Ends both threads (idempotent).
  void stop() {
    cancel_.store(true);
    if (split_) split_->headGone();
    { std::lock_guard lock(mutex_); }
    changed_.notify_all();
    if (producer_.joinable()) producer_.join();
    if (strings_done_.valid()) {
      try {
        strings_done_.get();
      } catch (...) {
      }
    }
    sheet_parser_.reset();
  }

  void parseWhole(const std::string& name, bool large, XmlHandler& handler) {
    PartParser parser(*package_, name, large, &handler);
    parser.runToEnd();
  }

  void open() {
    if (package_->entries() == 0) FailAs(Reason::NotAWorkbook, "the zip package holds no file");
    if (!package_->has("[Content_Types].xml")) {
      if (package_->has("mimetype") && package_->has("content.xml"))
        FailAs(Reason::UnsupportedWorkbookFormat,
               "the file is an OpenDocument spreadsheet (.ods), not an Excel workbook; save it as "
               ".xlsx or .xls");
      FailAs(Reason::NotAWorkbook,
             "the file is a zip package but no Office Open XML document (it has no "
             "[Content_Types].xml)");
    }
    ContentTypes types;
    parseWhole("[Content_Types].xml", false, types);
    std::string workbook = types.workbook_part;
    if (types.kind == MainKind::Binary)
      FailAs(
          Reason::UnsupportedWorkbookFormat,
          "the file is an Excel binary workbook (.xlsb), which cannot be read; save it as .xlsx or "
          ".xls");
    if (types.kind == MainKind::OtherDocument)
      FailAs(Reason::NotAWorkbook, "the file is an Office document but no workbook");
    if (workbook.empty()) {
      // No content type names the workbook: the package relationships may.
      if (package_->has("_rels/.rels")) {
        Relationships rels;
        parseWhole("_rels/.rels", false, rels);
        for (const auto& r : rels.items) {
          if (r.type.rfind(kStrictRelationships, 0) == 0)
            FailAs(Reason::UnsupportedWorkbookFormat, kStrictReason);
          if (EndsWith(r.type, "/officeDocument") && !r.external)
            workbook = ResolveTarget("", r.target);
        }
      }
      if (workbook.empty()) Fail("the package holds no workbook");
    }

    WorkbookPart book;
    {
      PartParser parser(*package_, workbook, false, &book);
      book.parser = &parser;
      parser.runToEnd();
    }
    if (book.strict) FailAs(Reason::UnsupportedWorkbookFormat, kStrictReason);
    date1904_ = book.date1904;
    if (book.sheets.empty()) Fail("the workbook holds no sheet");
    const SheetEntry& active =
        book.sheets[size_t(book.active_tab) < book.sheets.size() ? size_t(book.active_tab) : 0];
    sheet_name_ = active.name;

    Relationships rels;
    const std::string rels_name = RelsOf(workbook);
    if (!package_->has(rels_name)) Fail("the package has no relationships for " + workbook);
    parseWhole(rels_name, false, rels);
    const std::string dir = DirOf(workbook);
    std::string sheet_part, strings_part, styles_part;
    for (const auto& r : rels.items) {
      if (r.type.rfind(kStrictRelationships, 0) == 0)
        FailAs(Reason::UnsupportedWorkbookFormat, kStrictReason);
      if (r.external) continue;
      if (r.id == active.rel_id) {
        if (EndsWith(r.type, "/chartsheet"))
          FailAs(Reason::NoWorksheet,
                 "the active sheet \"" + active.name + "\" is a chart, which holds no cells",
                 active.name);
        if (!EndsWith(r.type, "/worksheet"))
          FailAs(Reason::NoWorksheet, "the active sheet \"" + active.name + "\" is no worksheet",
                 active.name);
        sheet_part = ResolveTarget(dir, r.target);
      } else if (EndsWith(r.type, "/sharedStrings") && strings_part.empty()) {
        strings_part = ResolveTarget(dir, r.target);
      } else if (EndsWith(r.type, "/styles") && styles_part.empty()) {
        styles_part = ResolveTarget(dir, r.target);
      }
    }
    if (sheet_part.empty()) Fail("the sheet \"" + active.name + "\" has no part in the package");
    if (!package_->has(sheet_part))
      Fail("the package has no part " + sheet_part + " for the sheet \"" + active.name + "\"");

    formats_.emplace_back();  // cells without a style: General
    if (!styles_part.empty() && package_->has(styles_part)) {
      Styles styles;
      {
        PartParser parser(*package_, styles_part, false, &styles);
        styles.parser = &parser;
        parser.runToEnd();
      }
      if (!styles.xf_ids.empty()) formats_.clear();
      for (int id : styles.xf_ids) {
        CellFormat f;
        f.id = id;
        if (const auto it = styles.codes.find(id); it != styles.codes.end()) f.code = it->second;
        formats_.push_back(std::move(f));
      }
    }
    sheet_.xf_is_date.reserve(formats_.size());
    for (const auto& f : formats_)
      sheet_.xf_is_date.push_back(f.code.empty() ? IsBuiltinDateFormat(f.id)
                                                 : IsDateFormatCode(f.code));

    // The shared strings are read on a thread of their own, from a second
    // open of the package, while the sheet is read on another; the rows wait
    // for the table only when they are handed out.
    if (!strings_part.empty() && package_->has(strings_part)) {
      bool started = false;
      if (package_->limits().threads) {
        std::shared_ptr<Package> second = package_->reopen();
        try {
          strings_done_ = std::async(std::launch::async, [this, second, strings_part] {
            PartParser parser(*second, strings_part, true, &strings_, &cancel_);
            strings_.parser = &parser;
            parser.runToEnd();
            strings_.parser = nullptr;
            std::string().swap(strings_.current);
          });
          started = true;
        } catch (const std::system_error&) {
          // No thread to be had: read the table here.
        }
      }
      if (!started) {
        PartParser parser(*package_, strings_part, true, &strings_);
        strings_.parser = &parser;
        parser.runToEnd();
        strings_.parser = nullptr;
        std::string().swap(strings_.current);
      }
    }

    sheet_part_ = sheet_part;
    sheet_.formats = &formats_;
    sheet_.date1904 = date1904_;
    sheet_parser_ = std::make_unique<PartParser>(*package_, sheet_part, true, &sheet_, &cancel_,
                                                 package_->limits().threads);
    sheet_.parser = sheet_parser_.get();
    // Up to the rows: the sheet's used range, and any fault before them, come out now.
    if (!sheet_parser_->run()) {
      batch_ = std::make_unique<Batch>();
      batch_->last = true;
      return;
    }
    // The sheet's thread starts with the first row asked for, once the
    // caller has said how it takes the rows.
    start_producer_ = package_->limits().threads;
  }

  void startProducer() {
    start_producer_ = false;
    try {
      producer_ = std::thread([this] { produce(); });
    } catch (const std::system_error&) {
      // No thread to be had: the rows are read on the caller's thread.
    }
  }

  std::unique_ptr<Package> package_;
  std::string sheet_name_;
  std::string sheet_part_;
  bool date1904_ = false;
  std::shared_ptr<RowSplit> split_;  // when a tail reads the sheet's second half
  SharedStrings strings_;
  std::future<void> strings_done_;
  bool strings_ready_ = false;  // the table was waited for (or handed over)
  bool leave_strings_ = false;  // the caller looks the shared strings up
  std::vector<CellFormat> formats_;
  SheetStream sheet_;
  std::unique_ptr<PartParser> sheet_parser_;
  bool done_ = false;

  std::atomic<bool> cancel_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<Batch>> ready_;
  std::vector<std::unique_ptr<Batch>> free_;
  std::unique_ptr<Batch> batch_;
  size_t taken_ = 0;
  std::thread producer_;
  bool start_producer_ = false;
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
    FailAs(Reason::WorkbookEncrypted,
           "the workbook is encrypted (it needs a password to open); save it without a password "
           "and try again");
  FailAs(Reason::NotAWorkbook,
         "the file is an .xls workbook (an OLE2 compound file), not an .xlsx package");
}

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
    // Small enough to look for the encryption stream; an encrypted package is an OLE2 file.
    FILE* f = std::fopen(path.c_str(), "rb");
    std::string data;
    if (f) {
      char buf[65536];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && data.size() < (size_t(64) << 20))
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
