// The .xls reader: BIFF8/BIFF5 records of the workbook stream. The globals
// (sheets, active tab, date mode, shared strings, formats) are read when the
// file is opened; the active sheet's cells are then handed out row by row,
// straight from the stream when the writer put the rows in order (as every
// writer does), else through an index of the cell records sorted by row.

#include "sheet/xls_reader.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "sheet/bytes.h"
#include "sheet/cell_text.h"
#include "sheet/cfb.h"
#include "sheet/grid.h"
#include "sheet/sheet.h"
#include "text/utf8.h"

namespace xb::sheet {
namespace {

[[noreturn]] void Fail(const std::string& why) {
  throw SheetError(Reason::WorkbookDamaged, "damaged workbook file: " + why);
}

[[noreturn]] void FailEncrypted() {
  throw SheetError(
      Reason::WorkbookEncrypted,
      "the workbook is password-protected (encrypted); save it without a password and try again");
}

enum : uint16_t {
  kFormula = 0x0006,
  kFormulaBiff3 = 0x0206,  // the older formula records, still found in some
  kFormulaBiff4 = 0x0406,  // workbooks: the same fields without BIFF8's spare four bytes
  kInteger2 = 0x0002,      // BIFF2 cell records, which this reader does not read
  kNumber2 = 0x0003,
  kLabel2 = 0x0004,
  kBoolErr2 = 0x0005,
  kEof = 0x000A,
  kDateMode = 0x0022,
  kFilePass = 0x002F,
  kWindow1 = 0x003D,
  kContinue = 0x003C,
  kCodePage = 0x0042,
  kBoundSheet = 0x0085,
  kMulRk = 0x00BD,
  kRString = 0x00D6,
  kXf = 0x00E0,
  kSst = 0x00FC,
  kLabelSst = 0x00FD,
  kNumber = 0x0203,
  kLabel = 0x0204,
  kBoolErr = 0x0205,
  kString = 0x0207,
  kRk = 0x027E,
  kFormat = 0x041E,
  kFormatBiff4 = 0x001E,
  kBof = 0x0809,
  kShrFmla = 0x04BC,
  kArray = 0x0221,
  kTable = 0x0236,
};

// The records that can give a cell (blank cells give none); each starts with
// its row and column. A cell is never dropped unread: every record that can
// hold one is here, read or refused naming the cell.
constexpr auto kCellRecords = [] {
  std::array<bool, 0x500> is{};
  for (uint16_t id : {kNumber, kRk, kMulRk, kLabelSst, kLabel, kRString, kBoolErr, kFormula,
                      kFormulaBiff3, kFormulaBiff4, kInteger2, kNumber2, kLabel2, kBoolErr2})
    is[id] = true;
  return is;
}();

bool IsCellRecord(uint16_t id) { return id < kCellRecords.size() && kCellRecords[id]; }

// The code of a format the file does not define.
const std::string kBuiltIn;

// The columns an .xls sheet has; a record naming another is ignored.

const char* ErrorText(uint8_t code) {
  switch (code) {
    case 0x00: return "#NULL!";
    case 0x07: return "#DIV/0!";
    case 0x0F: return "#VALUE!";
    case 0x17: return "#REF!";
    case 0x1D: return "#NAME?";
    case 0x24: return "#NUM!";
    case 0x2A:  // and any code not listed above
    default: return "#N/A";
  }
}

struct Record {
  uint16_t id;
  const uint8_t* data;
  uint16_t size;
};

class RecordStream {
 public:
  explicit RecordStream(const std::vector<uint8_t>& s) : data_(s.data()), size_(s.size()) {}
  bool Next(Record& r) {
    if (pos_ == size_) return false;
    if (size_ - pos_ < 4) Fail("workbook stream ends inside a record header");
    const uint8_t* p = data_ + pos_;
    r.id = Le16(p);
    r.size = Le16(p + 2);
    if (r.size > 8224) Fail("record longer than allowed");
    if (size_ - pos_ - 4 < r.size) Fail("workbook stream ends inside a record");
    r.data = p + 4;
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
    if (pos >= size_) Fail("sheet offset past the end of the workbook stream");
    pos_ = pos;
  }
  size_t Pos() const { return pos_; }

 private:
  const uint8_t* data_;  // the stream never changes while it is read
  size_t size_;
  size_t pos_ = 0;
};

// UTF-16 code units to UTF-8; lone surrogates become U+FFFD.
void AppendUtf16(std::string& out, const std::vector<uint16_t>& units) {
  out.reserve(out.size() + units.size() * 3);
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t c = units[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    text::AppendUtf8(out, c);
  }
}

// Latin-1 bytes to UTF-8, runs of ASCII at once.
void AppendLatin1(std::string& out, const uint8_t* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    size_t run = i;
    while (run < n && p[run] < 0x80) ++run;
    out.append(reinterpret_cast<const char*>(p + i), run - i);
    if (run == n) break;
    text::AppendUtf8(out, p[run]);
    i = run + 1;
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
  // A field may straddle two pieces: its bytes are gathered first (a braced
  // list is read left to right).
  uint16_t Word() {
    const uint8_t bytes[2] = {Byte(), Byte()};
    return Le16(bytes);
  }
  uint32_t Dword() {
    const uint8_t bytes[4] = {Byte(), Byte(), Byte(), Byte()};
    return Le32(bytes);
  }
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
  // An XLUnicodeString (BIFF8), or with `rich` the shared string table's
  // kind, the only one whose flags announce formatting and extension runs:
  // elsewhere those flag bits are spare and Excel ignores them.
  void UnicodeString(std::string& out, bool count16, bool rich) {
    const uint16_t cch = count16 ? Word() : Byte();
    const uint8_t flags = Byte();
    uint16_t runs = 0;
    uint32_t ext = 0;
    if (rich && (flags & 0x08)) runs = Word();
    if (rich && (flags & 0x04)) ext = Dword();
    bool wide = flags & 0x01;
    units_.clear();
    size_t left = cch;
    while (left > 0) {
      if (piece_ >= pieces_.size() || off_ >= pieces_[piece_].size) {
        // The characters continue in the next record behind a fresh option byte.
        ++piece_;
        off_ = 0;
        if (piece_ >= pieces_.size() || pieces_[piece_].size == 0)
          Fail("string runs past its record");
        wide = pieces_[piece_].data[off_++] & 0x01;
        continue;
      }
      const size_t avail = pieces_[piece_].size - off_;
      const uint8_t* p = pieces_[piece_].data + off_;
      if (wide) {
        const size_t n = std::min(left, avail / 2);
        if (n == 0) Fail("character split across records");
        for (size_t i = 0; i < n; ++i) units_.push_back(Le16(p + 2 * i));
        off_ += 2 * n;
        left -= n;
      } else {
        // Compressed characters are code points below 256: no surrogates,
        // so they go straight to UTF-8 after any 16-bit ones before them.
        const size_t n = std::min(left, avail);
        if (!units_.empty()) {
          AppendUtf16(out, units_);
          units_.clear();
        }
        AppendLatin1(out, p, n);
        off_ += n;
        left -= n;
      }
    }
    if (!units_.empty()) AppendUtf16(out, units_);
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
    for (size_t i = 0; i < units.size(); ++i) units[i] = Le16(p + 2 * i);
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
  for (size_t i = 0; i < n; ++i) text::AppendUtf8(out, p[i]);  // Latin-1 fallback
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

class XlsReader final : public WorkbookReader {
 public:
  explicit XlsReader(std::vector<uint8_t> stream) : stream_(std::move(stream)), rs_(stream_) {
    Start();
  }
  XlsReader(const XlsReader&) = delete;
  XlsReader& operator=(const XlsReader&) = delete;

  const std::string& activeSheetName() const override { return sheet_name_; }
  bool date1904() const override { return date1904_; }
  size_t cellCountHint() const override { return cell_records_; }

  bool nextRow(TypedRow& row) override {
    for (;;) {
      size_t used = 0;
      int current = -1;
      Record r;
      if (index_.empty() && !in_order_done_) {
        size_t at = 0;
        while (NextCellRecord(r, at)) {
          if (r.size >= 2 && current >= 0 && Le16(r.data) != current) {
            rs_.Seek(at);  // the next row's first record
            break;
          }
          if (r.size >= 2) current = Le16(r.data);
          Decode(r, row, used);
        }
      } else {
        while (next_ < index_.size() && (current < 0 || index_[next_].row == current)) {
          current = index_[next_].row;
          rs_.Seek(index_[next_++].pos);
          rs_.Next(r);
          Decode(r, row, used);
        }
      }
      if (current < 0) {
        row.cells.clear();
        return false;
      }
      if (used == 0) continue;  // a row of empty formula results only
      row.cells.resize(used);
      InColumnOrder(row.cells);
      row.row = current + 1;
      return true;
    }
  }

 private:
  struct SheetInfo {
    uint32_t offset;
    uint8_t kind;  // 0 worksheet (or dialog), 1 macro sheet, 2 chart, 6 code module
    std::string name;
  };
  static constexpr uint16_t kChartSheet = 2, kModuleSheet = 6;
  static constexpr uint16_t kChartSubstream = 0x0020, kModuleSubstream = 0x0006;
  // A cell record of a sheet whose rows are out of order.
  struct Placed {
    uint16_t row;
    uint32_t pos;
  };

  void Start() {
    Record r;
    if (!rs_.Next(r)) Fail("empty workbook stream");
    if (r.id == 0x0009 || r.id == 0x0209 || r.id == 0x0409)
      throw SheetError(
          Reason::OldWorkbookFormat,
          "the workbook uses an old Excel file format (BIFF2-BIFF4) that is not supported");
    if (r.id != kBof || r.size < 4) Fail("the workbook stream does not start with a BOF record");
    // Writers differ in the low byte (Excel 5 files say 0x0500 or 0x0580).
    const uint16_t version = Le16(r.data) & 0xFF00;
    if (version == 0x0600) {
      biff8_ = true;
    } else if (version == 0x0500) {
      biff8_ = false;
    } else {
      throw SheetError(Reason::OldWorkbookFormat, "unsupported Excel file version");
    }
    Globals();
    if (sheets_.empty()) Fail("the workbook lists no sheets");
    const size_t tab = active_tab_ < sheets_.size() ? active_tab_ : 0;
    sheet_name_ = sheets_[tab].name;
    RefuseUnlessCells(sheets_[tab].kind == kChartSheet, sheets_[tab].kind == kModuleSheet);
    FinishFormats();
    ScanSheet(sheets_[tab].offset);
  }

  // The active sheet must be one that holds cells: a chart's records are
  // its cached series values, not cells of the sheet. Both the sheet list
  // and the sheet's own BOF say what kind of sheet it is.
  void RefuseUnlessCells(bool chart, bool module) const {
    if (chart)
      throw SheetError(Reason::NoWorksheet,
                       "the active sheet \"" + sheet_name_ + "\" is a chart, which holds no cells",
                       sheet_name_);
    if (module)
      throw SheetError(Reason::NoWorksheet,
                       "the active sheet \"" + sheet_name_ + "\" is no worksheet", sheet_name_);
  }

  std::string RecordString(const Record& r, size_t at, bool count16) {
    std::string s;
    if (biff8_) {
      PieceReader pr;
      pr.Add(Record{r.id, r.data + std::min<size_t>(at, r.size),
                    uint16_t(r.size - std::min<size_t>(at, r.size))});
      Record c;
      while (rs_.NextContinue(c)) pr.Add(c);
      pr.UnicodeString(s, count16, false);
    } else {
      const size_t hdr = count16 ? 2 : 1;
      if (at + hdr > r.size) Fail("string runs past its record");
      const size_t n = count16 ? Le16(r.data + at) : r.data[at];
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
        case kEof: return;
        case kFilePass: FailEncrypted();
        case kBof: Fail("unexpected BOF record in the workbook globals");
        case kCodePage:
          if (r.size >= 2) codepage_ = Le16(r.data);
          break;
        case kDateMode:
          if (r.size >= 2) date1904_ = Le16(r.data) == 1;
          break;
        case kWindow1:
          if (r.size >= 12) active_tab_ = Le16(r.data + 10);
          break;
        case kBoundSheet: {
          if (r.size < 7) Fail("short BOUNDSHEET record");
          SheetInfo s;
          s.offset = Le32(r.data);
          s.kind = r.data[5];
          s.name = RecordString(r, 6, false);
          sheets_.push_back(std::move(s));
          break;
        }
        case kXf:
          if (r.size < 4) Fail("short XF record");
          xf_format_.push_back(Le16(r.data + 2));
          break;
        case kFormat:
        case kFormatBiff4: {
          if (r.size < 3) Fail("short FORMAT record");
          const uint16_t index = Le16(r.data);
          std::string code = RecordString(r, 2, biff8_);
          // A format the file defines without a code shows no date, whatever its id.
          if (code.empty()) code = "General";
          formats_.emplace_back(index, std::move(code));
          break;
        }
        case kSst: Sst(r); break;
        default: break;
      }
    }
  }

  void Sst(const Record& r) {
    if (r.size < 8) Fail("short SST record");
    const uint32_t count = Le32(r.data + 4);
    PieceReader pr;
    pr.Add(Record{r.id, r.data + 8, uint16_t(r.size - 8)});
    Record c;
    while (rs_.NextContinue(c)) pr.Add(c);
    // Each string takes at least three bytes, so the stream bounds the count.
    strings_.ends.reserve(std::min<size_t>(count, stream_.size() / 3));
    std::string s;
    for (uint32_t i = 0; i < count; ++i) {
      if (pr.AtEnd()) Fail("the shared string table holds fewer strings than it claims");
      s.clear();
      pr.UnicodeString(s, true, true);
      if (!strings_.add(s)) Fail("too much text");
    }
    sst_count_ = count;
  }

  std::string_view SharedString(uint32_t index) const { return strings_.at(index); }

  void FinishFormats() {
    // The last FORMAT record for an id counts; other ids are built in.
    std::vector<const std::string*> code_of(0x10000, &kBuiltIn);
    for (const auto& [index, code] : formats_) code_of[index] = &code;
    xf_code_.resize(xf_format_.size());
    for (size_t i = 0; i < xf_format_.size(); ++i) xf_code_[i] = code_of[xf_format_[i]];
  }

  // Walks the sheet once: finds its end, and whether its cell records come
  // in row order. When they do not, indexes them by row, keeping the
  // records' order within a row (a later record for the same cell wins).
  void ScanSheet(uint32_t offset) {
    rs_.Seek(offset);
    Record r;
    if (!rs_.Next(r) || r.id != kBof) Fail("sheet does not start with a BOF record");
    if (r.size >= 4)
      RefuseUnlessCells(Le16(r.data + 2) == kChartSubstream, Le16(r.data + 2) == kModuleSubstream);
    first_ = rs_.Pos();
    bool in_order = true;
    int last_row = -1;
    size_t at = 0;
    while (NextCellRecord(r, at)) {
      cell_records_ += r.id == kMulRk && r.size >= 6 ? (r.size - 6) / 6 : 1;
      if (r.size < 2) continue;
      const int row = Le16(r.data);
      if (row < last_row) in_order = false;
      last_row = row;
    }
    if (!in_order) {
      depth_ = 1;
      rs_.Seek(first_);
      while (NextCellRecord(r, at)) {
        if (at > UINT32_MAX) Fail("workbook stream too large");
        index_.push_back(Placed{r.size >= 2 ? Le16(r.data) : uint16_t(0), uint32_t(at)});
      }
      std::stable_sort(index_.begin(), index_.end(),
                       [](const Placed& a, const Placed& b) { return a.row < b.row; });
      in_order_done_ = true;
    } else {
      depth_ = 1;
      rs_.Seek(first_);
    }
  }

  // The next cell record of the sheet itself (not of a chart inside it);
  // false at the sheet's end. `at` is where the record starts.
  bool NextCellRecord(Record& r, size_t& at) {
    while (depth_ > 0) {
      at = rs_.Pos();
      if (!rs_.Next(r)) Fail("sheet has no end");
      if (r.id == kBof) {
        ++depth_;
      } else if (r.id == kEof) {
        --depth_;
      } else if (depth_ == 1) {
        if (r.id == kFilePass) FailEncrypted();
        if (IsCellRecord(r.id)) return true;
      }
    }
    return false;
  }

  // Excel writes no .xls cell past column IV, but the record has room for
  // more and other programs read them: such a cell is read like any other,
  // and one past the sheet's last column is refused by name, never dropped.
  TypedCell* Slot(TypedRow& row, size_t& used, size_t column) {
    if (column >= size_t(kMaxColumns))
      throw SheetError(Reason::WorkbookDamaged, "cell " +
                                                    CellName(decoding_row_ + 1, int(column) + 1) +
                                                    " lies past the sheet's last column");
    if (used == row.cells.size()) row.cells.emplace_back();
    TypedCell& c = row.cells[used++];
    c.column = int(column) + 1;
    return &c;
  }

  void SetNumber(TypedCell& c, uint16_t xf, double value) {
    c.type = TypedCell::Type::Number;
    c.number = value;
    c.text.clear();
    c.shared_string = -1;
    if (xf < xf_format_.size()) {
      c.format_id = xf_format_[xf];
      const std::string& code = *xf_code_[xf];
      // A reused slot mostly held the same format (the same column of the
      // row before): comparing is cheaper than copying.
      if (c.format_code.size() != code.size() || c.format_code != code) c.format_code = code;
    } else {
      c.format_id = 0;
      c.format_code.clear();
    }
  }

  static void SetText(TypedCell& c, TypedCell::Type type, std::string_view text,
                      int64_t shared = -1) {
    c.type = type;
    c.text.assign(text);
    c.shared_string = shared;
    c.format_id = 0;
    c.format_code.clear();
  }

  static void SetBoolean(TypedCell& c, bool value) {
    c.type = TypedCell::Type::Boolean;
    c.boolean = value;
    c.text.clear();
    c.shared_string = -1;
    c.format_id = 0;
    c.format_code.clear();
  }

  // Adds the cells of one record to the row; rs_ stands right after it.
  void Decode(const Record& r, TypedRow& row, size_t& used) {
    // Every cell record starts with its row; short records are refused below.
    decoding_row_ = r.size >= 2 ? Le16(r.data) : 0;
    switch (r.id) {
      case kNumber:
        if (r.size < 14) Fail("short NUMBER record");
        if (TypedCell* c = Slot(row, used, Le16(r.data + 2)))
          SetNumber(*c, Le16(r.data + 4), LeF64(r.data + 6));
        break;
      case kRk:
        if (r.size < 10) Fail("short RK record");
        if (TypedCell* c = Slot(row, used, Le16(r.data + 2)))
          SetNumber(*c, Le16(r.data + 4), DecodeRk(Le32(r.data + 6)));
        break;
      case kMulRk: {
        if (r.size < 6 || (r.size - 6) % 6 != 0) Fail("bad MULRK record");
        const size_t first = Le16(r.data + 2);
        const size_t n = (r.size - 6) / 6;
        for (size_t i = 0; i < n; ++i) {
          const uint8_t* p = r.data + 4 + 6 * i;
          if (TypedCell* c = Slot(row, used, first + i))
            SetNumber(*c, Le16(p), DecodeRk(Le32(p + 2)));
        }
        break;
      }
      case kLabelSst: {
        if (r.size < 10) Fail("short LABELSST record");
        const uint32_t index = Le32(r.data + 6);
        if (index >= sst_count_) Fail("string index past the shared string table");
        if (TypedCell* c = Slot(row, used, Le16(r.data + 2)))
          SetText(*c, TypedCell::Type::Text, SharedString(index), index);
        break;
      }
      case kLabel:
      case kRString: {
        if (r.size < 8) Fail("short LABEL record");
        const std::string text = RecordString(r, 6, true);
        if (TypedCell* c = Slot(row, used, Le16(r.data + 2)))
          SetText(*c, TypedCell::Type::Text, text);
        break;
      }
      case kBoolErr: {
        if (r.size < 8) Fail("short BOOLERR record");
        TypedCell* c = Slot(row, used, Le16(r.data + 2));
        if (!c) break;
        if (r.data[7] != 0)
          SetText(*c, TypedCell::Type::Error, ErrorText(r.data[6]));
        else
          SetBoolean(*c, r.data[6] != 0);
        break;
      }
      case kFormula:
      case kFormulaBiff3:
      case kFormulaBiff4: Formula(r, row, used); break;
      case kInteger2:
      case kNumber2:
      case kLabel2:
      case kBoolErr2: {
        if (r.size < 4) Fail("short cell record");
        char id[8];
        std::snprintf(id, sizeof id, "0x%04X", r.id);
        throw SheetError(Reason::OldWorkbookFormat,
                         "cell " + CellName(Le16(r.data) + 1, Le16(r.data + 2) + 1) +
                             " is stored in a record of an older Excel format (" + id +
                             ") that is not supported");
      }
      default: break;
    }
  }

  // A formula cell gives its cached result. The older records differ only
  // after the result.
  void Formula(const Record& r, TypedRow& row, size_t& used) {
    if (r.size < (r.id == kFormula ? 20 : 18)) Fail("short FORMULA record");
    const uint16_t column = Le16(r.data + 2), xf = Le16(r.data + 4);
    const uint8_t* v = r.data + 6;
    if (Le16(v + 6) != 0xFFFF) {
      if (TypedCell* c = Slot(row, used, column)) SetNumber(*c, xf, LeF64(v));
    } else if (v[0] == 0) {
      // The text result follows in a STRING record (shared formulas may put
      // SHRFMLA/ARRAY/TABLE in between).
      Record s;
      bool found = false;
      while (rs_.Next(s)) {
        if (s.id == kString) {
          found = true;
          break;
        }
        if (s.id != kShrFmla && s.id != kArray && s.id != kTable)
          Fail("formula text result is missing");
      }
      if (!found) Fail("formula text result is missing");
      if (s.size < (biff8_ ? 3 : 2)) Fail("short STRING record");
      const std::string text = RecordString(s, 0, true);
      if (TypedCell* c = Slot(row, used, column)) SetText(*c, TypedCell::Type::Text, text);
    } else if (v[0] == 1) {
      if (TypedCell* c = Slot(row, used, column)) SetBoolean(*c, v[2] != 0);
    } else if (v[0] == 2) {
      if (TypedCell* c = Slot(row, used, column))
        SetText(*c, TypedCell::Type::Error, ErrorText(v[2]));
    } else if (v[0] == 3) {
      // Empty text result: no cell.
    } else {
      Fail("cell " + CellName(Le16(r.data) + 1, column + 1) +
           " holds a formula result of an unknown type");
    }
  }

  // Writers put a row's cells in column order; where one did not, the cells
  // are sorted, and of two records for one cell the later wins.
  static void InColumnOrder(std::vector<TypedCell>& cells) {
    bool ordered = true;
    for (size_t i = 1; i < cells.size() && ordered; ++i)
      ordered = cells[i - 1].column < cells[i].column;
    if (ordered) return;
    std::stable_sort(cells.begin(), cells.end(),
                     [](const TypedCell& a, const TypedCell& b) { return a.column < b.column; });
    size_t w = 0;
    for (size_t i = 0; i < cells.size(); ++i) {
      if (w > 0 && cells[w - 1].column == cells[i].column)
        cells[w - 1] = std::move(cells[i]);
      else if (w != i)
        cells[w++] = std::move(cells[i]);
      else
        ++w;
    }
    cells.resize(w);
  }

  std::vector<uint8_t> stream_;
  RecordStream rs_;
  // The row of the cell record being decoded, for a refusal that names it.
  uint16_t decoding_row_ = 0;
  bool biff8_ = true;
  int codepage_ = 1252;
  bool date1904_ = false;
  size_t active_tab_ = 0;
  std::string sheet_name_;
  std::vector<SheetInfo> sheets_;
  // Shared strings, end to end.
  StringTable strings_;
  uint32_t sst_count_ = 0;
  std::vector<uint16_t> xf_format_;          // format id of each XF
  std::vector<const std::string*> xf_code_;  // its code in formats_, or kBuiltIn
  std::vector<std::pair<uint16_t, std::string>> formats_;
  // Reading the sheet.
  size_t first_ = 0;           // the sheet's first record after its BOF
  int depth_ = 1;              // BOF/EOF nesting (charts inside the sheet)
  size_t cell_records_ = 0;    // an upper bound of the cells
  std::vector<Placed> index_;  // rows out of order: the cell records by row
  size_t next_ = 0;
  bool in_order_done_ = false;
};

}  // namespace

std::unique_ptr<WorkbookReader> OpenXlsReader(std::string file) {
  // Some writers save an Excel 5 (or later) workbook stream as the whole
  // file, without the compound file around it.
  const auto* p = reinterpret_cast<const uint8_t*>(file.data());
  if (!HasCfbSignature(file) && file.size() >= 8 && Le16(p) == kBof && Le16(p + 2) >= 4 &&
      ((Le16(p + 4) & 0xFF00) == 0x0500 || (Le16(p + 4) & 0xFF00) == 0x0600))
    return OpenXlsStream(std::vector<uint8_t>(p, p + file.size()));
  std::vector<uint8_t> stream = ReadCfbStream(file, {"Workbook", "Book"});
  std::string().swap(file);  // the container is not needed once its workbook stream is out
  return OpenXlsStream(std::move(stream));
}

std::unique_ptr<WorkbookReader> OpenXlsStream(std::vector<uint8_t> stream) {
  return std::make_unique<XlsReader>(std::move(stream));
}

}  // namespace xb::sheet
