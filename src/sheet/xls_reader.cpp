// BIFF8/BIFF5 records of the workbook stream: the globals (sheets, active
// tab, date mode, shared strings, formats) and then the active sheet's cells.

#include "sheet/xls_reader.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "sheet/sheet.h"

namespace xb::sheet {
namespace {

uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
double F64(const uint8_t* p) { double d; std::memcpy(&d, p, 8); return d; }

[[noreturn]] void Fail(const std::string& why) { throw SheetError("damaged workbook file: " + why); }

enum : uint16_t {
  kFormula = 0x0006, kEof = 0x000A, kDateMode = 0x0022, kFilePass = 0x002F, kWindow1 = 0x003D,
  kContinue = 0x003C, kCodePage = 0x0042, kBoundSheet = 0x0085, kMulRk = 0x00BD, kMulBlank = 0x00BE,
  kRString = 0x00D6, kXf = 0x00E0, kSst = 0x00FC, kLabelSst = 0x00FD, kBlank = 0x0201,
  kNumber = 0x0203, kLabel = 0x0204, kBoolErr = 0x0205, kString = 0x0207, kRk = 0x027E,
  kFormat = 0x041E, kFormatBiff4 = 0x001E, kBof = 0x0809,
};

struct Record {
  uint16_t id;
  const uint8_t* data;
  uint16_t size;
};

class RecordStream {
 public:
  explicit RecordStream(const std::vector<uint8_t>& s) : s_(s) {}
  bool Next(Record& r) {
    if (pos_ == s_.size()) return false;
    if (s_.size() - pos_ < 4) Fail("workbook stream ends inside a record header");
    r.id = U16(&s_[pos_]);
    r.size = U16(&s_[pos_ + 2]);
    if (r.size > 8224) Fail("record longer than allowed");
    if (s_.size() - pos_ - 4 < r.size) Fail("workbook stream ends inside a record");
    r.data = &s_[pos_ + 4];
    pos_ += 4 + size_t(r.size);
    return true;
  }
  // Next record only if it is a CONTINUE.
  bool NextContinue(Record& r) {
    const size_t save = pos_;
    if (!Next(r)) return false;
    if (r.id == kContinue) return true;
    pos_ = save;
    return false;
  }
  void Seek(size_t pos) {
    if (pos >= s_.size()) Fail("sheet offset past the end of the workbook stream");
    pos_ = pos;
  }
  bool AtEnd() const { return pos_ == s_.size(); }

 private:
  const std::vector<uint8_t>& s_;
  size_t pos_ = 0;
};

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(char(c));
  } else if (c < 0x800) {
    out.push_back(char(0xC0 | c >> 6));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(char(0xE0 | c >> 12));
    out.push_back(char(0x80 | (c >> 6 & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else {
    out.push_back(char(0xF0 | c >> 18));
    out.push_back(char(0x80 | (c >> 12 & 0x3F)));
    out.push_back(char(0x80 | (c >> 6 & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  }
}

// UTF-16 code units to UTF-8; lone surrogates become U+FFFD.
void AppendUtf16(std::string& out, const std::vector<uint16_t>& units) {
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t c = units[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
}

// Reads across a record and its CONTINUE records, as the shared string table
// and long strings need: character data re-reads its option byte at each
// record boundary.
class PieceReader {
 public:
  void Add(const Record& r) { pieces_.push_back(r); }
  bool AtEnd() {
    Settle();
    return piece_ >= pieces_.size();
  }
  uint8_t Byte() {
    Settle();
    if (piece_ >= pieces_.size()) Fail("string runs past its record");
    return pieces_[piece_].data[off_++];
  }
  uint16_t Word() { uint16_t lo = Byte(); return uint16_t(lo | Byte() << 8); }
  uint32_t Dword() { uint32_t lo = Word(); return lo | uint32_t(Word()) << 16; }
  void Skip(uint64_t n) {
    while (n > 0) {
      Settle();
      if (piece_ >= pieces_.size()) Fail("string runs past its record");
      const size_t avail = pieces_[piece_].size - off_;
      const size_t take = size_t(std::min<uint64_t>(avail, n));
      off_ += take;
      n -= take;
    }
  }
  // An XLUnicodeString / rich extended string (BIFF8).
  void UnicodeString(std::string& out, bool count16) {
    const uint16_t cch = count16 ? Word() : Byte();
    const uint8_t flags = Byte();
    uint16_t runs = 0;
    uint32_t ext = 0;
    if (flags & 0x08) runs = Word();
    if (flags & 0x04) ext = Dword();
    bool wide = flags & 0x01;
    units_.clear();
    units_.reserve(cch);
    size_t left = cch;
    while (left > 0) {
      if (piece_ >= pieces_.size() || off_ >= pieces_[piece_].size) {
        // The characters continue in the next record behind a fresh option byte.
        ++piece_;
        off_ = 0;
        if (piece_ >= pieces_.size() || pieces_[piece_].size == 0) Fail("string runs past its record");
        wide = pieces_[piece_].data[off_++] & 0x01;
        continue;
      }
      const size_t avail = pieces_[piece_].size - off_;
      const uint8_t* p = pieces_[piece_].data + off_;
      if (wide) {
        const size_t n = std::min(left, avail / 2);
        if (n == 0) Fail("character split across records");
        for (size_t i = 0; i < n; ++i) units_.push_back(U16(p + 2 * i));
        off_ += 2 * n;
        left -= n;
      } else {
        const size_t n = std::min(left, avail);
        for (size_t i = 0; i < n; ++i) units_.push_back(p[i]);
        off_ += n;
        left -= n;
      }
    }
    AppendUtf16(out, units_);
    Skip(uint64_t(runs) * 4 + ext);
  }

 private:
  void Settle() {
    while (piece_ < pieces_.size() && off_ >= pieces_[piece_].size) {
      ++piece_;
      off_ = 0;
    }
  }
  std::vector<Record> pieces_;
  size_t piece_ = 0, off_ = 0;
  std::vector<uint16_t> units_;
};

// Byte strings of BIFF5 in the workbook's code page.
std::string Decode8(const uint8_t* p, size_t n, int codepage) {
  std::string out;
  bool ascii = true;
  for (size_t i = 0; i < n; ++i) ascii = ascii && p[i] < 0x80;
  if (ascii) return std::string(reinterpret_cast<const char*>(p), n);
  // Code page 1200 is UTF-16: Gnumeric's Excel 95 files carry it when saved
  // from a newer workbook, and then store non-ASCII text as UTF-16LE bytes.
  if (codepage == 1200 && n % 2 == 0) {
    std::vector<uint16_t> units(n / 2);
    for (size_t i = 0; i < units.size(); ++i) units[i] = U16(p + 2 * i);
    AppendUtf16(out, units);
    return out;
  }
  if (codepage != 0 && codepage != 1200 && codepage != 32768 && codepage != 32769) {
    const std::string name = codepage == 10000 ? "MACINTOSH" : "CP" + std::to_string(codepage);
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd != iconv_t(-1)) {
      std::string buf(n * 4 + 4, '\0');
      char* in = const_cast<char*>(reinterpret_cast<const char*>(p));
      size_t in_left = n, out_left = buf.size();
      char* o = buf.data();
      const size_t rc = iconv(cd, &in, &in_left, &o, &out_left);
      iconv_close(cd);
      if (rc != size_t(-1)) return buf.substr(0, buf.size() - out_left);
    }
  }
  for (size_t i = 0; i < n; ++i) AppendUtf8(out, p[i]);  // Latin-1 fallback
  return out;
}

double DecodeRk(uint32_t rk) {
  double v;
  if (rk & 2) {
    v = double(int32_t(rk) >> 2);
  } else {
    const uint64_t bits = uint64_t(rk & 0xFFFFFFFC) << 32;
    std::memcpy(&v, &bits, 8);
  }
  return (rk & 1) ? v / 100 : v;
}

}  // namespace

class BiffParser {
 public:
  BiffParser(const std::vector<uint8_t>& stream, XlsSheet& out) : rs_(stream), out_(out), stream_size_(stream.size()) {}

  void Run() {
    Record r;
    if (!rs_.Next(r)) Fail("empty workbook stream");
    if (r.id == 0x0009 || r.id == 0x0209 || r.id == 0x0409)
      throw SheetError("the workbook uses an old Excel file format (BIFF2-BIFF4) that is not supported");
    if (r.id != kBof || r.size < 4) Fail("the workbook stream does not start with a BOF record");
    const uint16_t version = U16(r.data);
    if (version == 0x0600) {
      biff8_ = true;
    } else if (version == 0x0500) {
      biff8_ = false;
    } else {
      throw SheetError("unsupported Excel file version");
    }
    Globals();
    if (sheets_.empty()) Fail("the workbook lists no sheets");
    const size_t tab = active_tab_ < sheets_.size() ? active_tab_ : 0;
    out_.sheet_name_ = sheets_[tab].name;
    FinishFormats();
    SheetCells(sheets_[tab].offset);
    // Writers put the cells in order, so the sort (and its buffer as large
    // as the cells) is rarely needed.
    auto& c = out_.cells_;
    const auto by_key = [](const XlsSheet::Cell& a, const XlsSheet::Cell& b) { return a.key < b.key; };
    if (!std::is_sorted(c.begin(), c.end(), by_key)) std::stable_sort(c.begin(), c.end(), by_key);
    // A later record for the same cell wins.
    size_t w = 0;
    for (size_t i = 0; i < c.size(); ++i) {
      if (w > 0 && c[w - 1].key == c[i].key) c[w - 1] = c[i];
      else c[w++] = c[i];
    }
    c.resize(w);
    if (c.capacity() - c.size() > c.size() / 8) c.shrink_to_fit();
    // Where each row's cells begin, so a look-up searches one row only.
    const size_t rows = c.empty() ? 0 : size_t(c.back().key >> 16) + 1;
    out_.row_begin_.assign(rows + 1, 0);
    for (const auto& cell : c) ++out_.row_begin_[(cell.key >> 16) + 1];
    for (size_t r = 1; r <= rows; ++r) out_.row_begin_[r] += out_.row_begin_[r - 1];
  }

 private:
  struct SheetInfo {
    uint32_t offset;
    std::string name;
  };

  uint32_t AddText(std::string_view s) {
    out_.pool_.append(s);
    if (out_.pool_.size() > UINT32_MAX) Fail("too much text");
    out_.pool_ends_.push_back(uint32_t(out_.pool_.size()));
    return uint32_t(out_.pool_ends_.size() - 1);
  }

  std::string RecordString(const Record& r, size_t at, bool count16) {
    std::string s;
    if (biff8_) {
      PieceReader pr;
      pr.Add(Record{r.id, r.data + std::min<size_t>(at, r.size), uint16_t(r.size - std::min<size_t>(at, r.size))});
      Record c;
      while (rs_.NextContinue(c)) pr.Add(c);
      pr.UnicodeString(s, count16);
    } else {
      const size_t hdr = count16 ? 2 : 1;
      if (at + hdr > r.size) Fail("string runs past its record");
      const size_t n = count16 ? U16(r.data + at) : r.data[at];
      if (at + hdr + n > r.size) Fail("string runs past its record");
      s = Decode8(r.data + at + hdr, n, codepage_);
    }
    return s;
  }

  void Globals() {
    Record r;
    while (true) {
      if (!rs_.Next(r)) Fail("workbook globals have no end");
      switch (r.id) {
        case kEof:
          return;
        case kFilePass:
          throw SheetError("the workbook is password-protected (encrypted); save it without a password and try again");
        case kBof:
          Fail("unexpected BOF record in the workbook globals");
        case kCodePage:
          if (r.size >= 2) codepage_ = U16(r.data);
          break;
        case kDateMode:
          if (r.size >= 2) out_.date1904_ = U16(r.data) == 1;
          break;
        case kWindow1:
          if (r.size >= 12) active_tab_ = U16(r.data + 10);
          break;
        case kBoundSheet: {
          if (r.size < 7) Fail("short BOUNDSHEET record");
          SheetInfo s;
          s.offset = U32(r.data);
          s.name = RecordString(r, 6, false);
          sheets_.push_back(std::move(s));
          break;
        }
        case kXf:
          if (r.size < 4) Fail("short XF record");
          xf_format_.push_back(U16(r.data + 2));
          break;
        case kFormat:
        case kFormatBiff4: {
          if (r.size < 3) Fail("short FORMAT record");
          const uint16_t index = U16(r.data);
          const std::string code = RecordString(r, 2, biff8_);
          formats_.emplace_back(index, IsDateFormatCode(code));
          break;
        }
        case kSst:
          Sst(r);
          break;
        default:
          break;
      }
    }
  }

  void Sst(const Record& r) {
    if (r.size < 8) Fail("short SST record");
    const uint32_t count = U32(r.data + 4);
    PieceReader pr;
    pr.Add(Record{r.id, r.data + 8, uint16_t(r.size - 8)});
    Record c;
    while (rs_.NextContinue(c)) pr.Add(c);
    // Each string takes at least three bytes, so the stream bounds the count.
    out_.pool_ends_.reserve(std::min<size_t>(count, stream_size_ / 3));
    std::string s;
    for (uint32_t i = 0; i < count; ++i) {
      if (pr.AtEnd()) Fail("the shared string table holds fewer strings than it claims");
      s.clear();
      pr.UnicodeString(s, true);
      AddText(s);
    }
    sst_count_ = count;
  }

  void FinishFormats() {
    // Built-in formats unless a FORMAT record says otherwise.
    std::vector<int8_t> is_date(0x10000, -1);
    for (auto [index, date] : formats_) is_date[index] = date ? 1 : 0;
    out_.xf_is_date_.resize(xf_format_.size());
    for (size_t i = 0; i < xf_format_.size(); ++i) {
      const uint16_t f = xf_format_[i];
      out_.xf_is_date_[i] = is_date[f] >= 0 ? uint8_t(is_date[f]) : uint8_t(IsBuiltinDateFormat(f));
    }
  }

  void AddCell(uint16_t row, uint16_t col, uint16_t xf, XlsSheet::Kind kind, double number, uint32_t text = 0,
               uint8_t code = 0) {
    XlsSheet::Cell c;
    c.key = uint32_t(row) << 16 | col;
    c.xf = xf;
    c.kind = kind;
    c.code = code;
    if (kind == XlsSheet::Kind::kText) c.text = text;
    else c.number = number;
    out_.cells_.push_back(c);
  }

  void SheetCells(uint32_t offset) {
    rs_.Seek(offset);
    Record r;
    if (!rs_.Next(r) || r.id != kBof) Fail("sheet does not start with a BOF record");
    int depth = 1;
    // Cell records come at most one per 6 bytes of stream.
    out_.cells_.reserve(std::min<size_t>(stream_size_ / 16, 1u << 20));
    while (depth > 0) {
      if (!rs_.Next(r)) Fail("sheet has no end");
      if (r.id == kBof) { ++depth; continue; }
      if (r.id == kEof) { --depth; continue; }
      if (depth != 1) continue;  // embedded chart
      switch (r.id) {
        case kNumber:
          if (r.size < 14) Fail("short NUMBER record");
          AddCell(U16(r.data), U16(r.data + 2), U16(r.data + 4), XlsSheet::Kind::kNumber, F64(r.data + 6));
          break;
        case kRk:
          if (r.size < 10) Fail("short RK record");
          AddCell(U16(r.data), U16(r.data + 2), U16(r.data + 4), XlsSheet::Kind::kNumber, DecodeRk(U32(r.data + 6)));
          break;
        case kMulRk: {
          if (r.size < 6 || (r.size - 6) % 6 != 0) Fail("bad MULRK record");
          const uint16_t row = U16(r.data), first = U16(r.data + 2);
          const size_t n = (r.size - 6) / 6;
          for (size_t i = 0; i < n; ++i) {
            const uint8_t* p = r.data + 4 + 6 * i;
            AddCell(row, uint16_t(first + i), U16(p), XlsSheet::Kind::kNumber, DecodeRk(U32(p + 2)));
          }
          break;
        }
        case kLabelSst: {
          if (r.size < 10) Fail("short LABELSST record");
          const uint32_t index = U32(r.data + 6);
          if (index >= sst_count_) Fail("string index past the shared string table");
          AddCell(U16(r.data), U16(r.data + 2), U16(r.data + 4), XlsSheet::Kind::kText, 0, index);
          break;
        }
        case kLabel:
        case kRString: {
          if (r.size < 8) Fail("short LABEL record");
          const uint16_t row = U16(r.data), col = U16(r.data + 2), xf = U16(r.data + 4);
          const uint32_t index = AddText(RecordString(r, 6, true));
          AddCell(row, col, xf, XlsSheet::Kind::kText, 0, index);
          break;
        }
        case kBoolErr: {
          if (r.size < 8) Fail("short BOOLERR record");
          const bool error = r.data[7] != 0;
          AddCell(U16(r.data), U16(r.data + 2), U16(r.data + 4),
                  error ? XlsSheet::Kind::kError : XlsSheet::Kind::kBool, 0, 0, r.data[6]);
          break;
        }
        case kFormula: {
          if (r.size < 20) Fail("short FORMULA record");
          const uint16_t row = U16(r.data), col = U16(r.data + 2), xf = U16(r.data + 4);
          const uint8_t* v = r.data + 6;
          if (U16(v + 6) != 0xFFFF) {
            AddCell(row, col, xf, XlsSheet::Kind::kNumber, F64(v));
          } else if (v[0] == 0) {
            // The text result follows in a STRING record (shared formulas may
            // put SHRFMLA/ARRAY in between).
            Record s;
            bool found = false;
            while (rs_.Next(s)) {
              if (s.id == kString) { found = true; break; }
              if (s.id != 0x04BC && s.id != 0x0221 && s.id != 0x0236) Fail("formula text result is missing");
            }
            if (!found) Fail("formula text result is missing");
            if (s.size < (biff8_ ? 3 : 2)) Fail("short STRING record");
            AddCell(row, col, xf, XlsSheet::Kind::kText, 0, AddText(RecordString(s, 0, true)));
          } else if (v[0] == 1) {
            AddCell(row, col, xf, XlsSheet::Kind::kBool, 0, 0, v[2]);
          } else if (v[0] == 2) {
            AddCell(row, col, xf, XlsSheet::Kind::kError, 0, 0, v[2]);
          } else if (v[0] == 3) {
            // Empty text result: reads as "".
          } else {
            Fail("unknown formula result type");
          }
          break;
        }
        case kFilePass:
          throw SheetError("the workbook is password-protected (encrypted); save it without a password and try again");
        default:
          break;
      }
    }
  }

  RecordStream rs_;
  XlsSheet& out_;
  size_t stream_size_;
  bool biff8_ = true;
  int codepage_ = 1252;
  size_t active_tab_ = 0;
  uint32_t sst_count_ = 0;
  std::vector<SheetInfo> sheets_;
  std::vector<uint16_t> xf_format_;
  std::vector<std::pair<uint16_t, bool>> formats_;
};

namespace {

XlsSheet FromWorkbookStream(const std::vector<uint8_t>& stream) {
  XlsSheet sheet;
  BiffParser parser(stream, sheet);
  parser.Run();
  return sheet;
}

}  // namespace

XlsSheet XlsSheet::Parse(std::string_view file) {
  return FromWorkbookStream(ReadCfbStream(file, {"Workbook", "Book"}));
}

XlsSheet XlsSheet::Load(const std::string& path) {
  // Read-only and without any lock: a workbook another program holds open
  // is read as it stands, and nothing of it is ever changed.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) throw SheetError(std::string("cannot open it: ") + std::strerror(errno));
  struct FdCloser {
    int fd;
    ~FdCloser() { close(fd); }
  } closer{fd};
  struct stat before {};
  if (fstat(fd, &before) != 0) throw SheetError(std::string("cannot read it: ") + std::strerror(errno));
  if (S_ISDIR(before.st_mode)) throw SheetError("it is a folder, not a file");
  if (!S_ISREG(before.st_mode)) throw SheetError("it is not a regular file");
  std::string data;
  data.reserve(static_cast<size_t>(before.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw SheetError(std::string("cannot read it: ") + std::strerror(errno));
    }
    data.append(buffer, static_cast<size_t>(n));
  }
  // Another program rewriting the file under us leaves a mix of old and new
  // bytes; such a read is refused rather than trusted.
  struct stat after {};
  if (fstat(fd, &after) != 0 || after.st_size != before.st_size || data.size() != static_cast<size_t>(before.st_size) ||
      after.st_mtim.tv_sec != before.st_mtim.tv_sec || after.st_mtim.tv_nsec != before.st_mtim.tv_nsec)
    throw SheetError("it was changed by another program while it was read");
  // The container is not needed once its workbook stream is out.
  const std::vector<uint8_t> stream = ReadCfbStream(data, {"Workbook", "Book"});
  std::string().swap(data);
  return FromWorkbookStream(stream);
}

const XlsSheet::Cell* XlsSheet::find(uint32_t key) const {
  const size_t row = key >> 16;
  if (row + 1 >= row_begin_.size()) return nullptr;
  const auto first = cells_.begin() + row_begin_[row], last = cells_.begin() + row_begin_[row + 1];
  auto it = std::lower_bound(first, last, key, [](const Cell& c, uint32_t k) { return c.key < k; });
  return it != last && it->key == key ? &*it : nullptr;
}

std::string_view XlsSheet::text(uint32_t index) const {
  if (index >= pool_ends_.size()) return {};
  const uint32_t begin = index == 0 ? 0 : pool_ends_[index - 1];
  return std::string_view(pool_).substr(begin, pool_ends_[index] - begin);
}

std::string XlsSheet::cellText(int row, int column) const {
  if (row < 1 || column < 1 || row > 65536 || column > 256) return "";
  const Cell* c = find(uint32_t(row - 1) << 16 | uint32_t(column - 1));
  if (!c) return "";
  switch (c->kind) {
    case Kind::kText:
      return std::string(text(c->text));
    case Kind::kBool:
      return c->code ? "TRUE" : "FALSE";
    case Kind::kError:
      switch (c->code) {
        case 0x00: return "#NULL!";
        case 0x07: return "#DIV/0!";
        case 0x0F: return "#VALUE!";
        case 0x17: return "#REF!";
        case 0x1D: return "#NAME?";
        case 0x24: return "#NUM!";
        case 0x2A: return "#N/A";
        default: return "#N/A";
      }
    case Kind::kNumber:
      if (c->xf < xf_is_date_.size() && xf_is_date_[c->xf]) {
        std::string d = FormatDateSerial(c->number, date1904_);
        if (!d.empty()) return d;
      }
      return FormatGeneralNumber(c->number);
    case Kind::kEmpty:
      break;
  }
  return "";
}

}  // namespace xb::sheet
