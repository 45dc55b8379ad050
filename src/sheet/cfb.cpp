// OLE2 compound file: just enough to pull one stream out, checking every
// sector number, chain length and size against the file so that a damaged
// or hostile file ends in a SheetError.

#include "sheet/cfb.h"

#include <algorithm>
#include <cstring>

#include "sheet/bytes.h"
#include "sheet/sheet.h"
#include "text/ascii.h"

namespace xb::sheet {
namespace {

constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr uint32_t kMaxRegSect = 0xFFFFFFFA;

constexpr uint8_t kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

[[noreturn]] void Fail(const std::string& why) {
  throw SheetError(Reason::WorkbookDamaged, "damaged workbook file: " + why);
}

class Cfb {
 public:
  explicit Cfb(std::string_view file)
      : data_(reinterpret_cast<const uint8_t*>(file.data())), size_(file.size()) {
    if (size_ < 512 || !HasCfbSignature(file)) {
      if (size_ >= 4 && data_[0] == 'P' && data_[1] == 'K')
        throw SheetError(
            Reason::NotAWorkbook,
            "the file is not an .xls workbook (it looks like an .xlsx or other zip file)");
      if (size_ >= 2 && (Le16(data_) == 0x0009 || Le16(data_) == 0x0209 || Le16(data_) == 0x0409 ||
                         Le16(data_) == 0x0809))
        throw SheetError(
            Reason::OldWorkbookFormat,
            "the workbook uses an old Excel file format (BIFF2-BIFF5 without a container) that is "
            "not supported");
      throw SheetError(Reason::NotAWorkbook,
                       "the file is not an Excel .xls workbook (no OLE2 compound file header)");
    }
    const uint16_t shift = Le16(data_ + 0x1E);
    if (shift != 9 && shift != 12) Fail("unsupported sector size");
    if (Le16(data_ + 0x1C) != 0xFFFE) Fail("bad byte order mark");
    sector_size_ = size_t(1) << shift;
    const uint16_t mini_shift = Le16(data_ + 0x20);
    if (mini_shift != 6) Fail("unsupported mini sector size");
    mini_size_ = 64;
    // Sectors the file really holds; a trailing partial sector still counts.
    sector_count_ = (size_ - sector_size_ + sector_size_ - 1) / sector_size_;
    if (size_ <= sector_size_) sector_count_ = 0;
    mini_cutoff_ = Le32(data_ + 0x38);
    if (mini_cutoff_ != 4096) Fail("bad mini stream cutoff");
    LoadFat();
    LoadDirectory();
    LoadMiniFat();
  }

  std::vector<uint8_t> Stream(const std::vector<std::string>& names) {
    for (const std::string& want : names) {
      for (const Entry& e : entries_) {
        if (e.type != 2 || !text::EqualsIgnoringCase(e.name, want)) continue;
        if (e.size > size_) Fail("stream size past the end of the file");
        if (e.size < mini_cutoff_) return ReadMini(e.start, size_t(e.size));
        return ReadChain(e.start, size_t(e.size));
      }
    }
    throw SheetError(
        Reason::NotAWorkbook,
        "the file holds no Excel workbook stream (it is an OLE2 file of another kind)");
  }

 private:
  struct Entry {
    std::string name;  // ASCII only matters here
    uint8_t type;
    uint32_t start;
    uint64_t size;
  };

  // A sector of which the first `used` bytes must be in the file: a whole
  // sector of the container's own tables, but only what a stream holds of
  // its last one, since some writers stop at the stream's end.
  const uint8_t* Sector(uint32_t id, size_t used) const {
    if (id >= sector_count_) Fail("sector number past the end of the file");
    const size_t off = (size_t(id) + 1) * sector_size_;
    if (off + used > size_) Fail("file is truncated");
    return data_ + off;
  }
  const uint8_t* Sector(uint32_t id) const { return Sector(id, sector_size_); }

  void LoadFat() {
    const uint32_t fat_sectors = Le32(data_ + 0x2C);
    uint32_t difat_next = Le32(data_ + 0x44);
    const uint32_t difat_count = Le32(data_ + 0x48);
    if (fat_sectors > sector_count_) Fail("FAT larger than the file");
    std::vector<uint32_t> ids;
    ids.reserve(fat_sectors);
    for (int i = 0; i < 109 && ids.size() < fat_sectors; ++i)
      ids.push_back(Le32(data_ + 0x4C + 4 * i));
    const size_t per = sector_size_ / 4 - 1;
    uint32_t visited = 0;
    while (ids.size() < fat_sectors) {
      if (difat_next >= kMaxRegSect) Fail("DIFAT chain ends early");
      if (++visited > difat_count || visited > sector_count_) Fail("loop in the DIFAT chain");
      const uint8_t* s = Sector(difat_next);
      for (size_t i = 0; i < per && ids.size() < fat_sectors; ++i) ids.push_back(Le32(s + 4 * i));
      difat_next = Le32(s + 4 * per);
    }
    fat_.reserve(ids.size() * (sector_size_ / 4));
    for (uint32_t id : ids) {
      const uint8_t* s = Sector(id);
      for (size_t i = 0; i < sector_size_ / 4; ++i) fat_.push_back(Le32(s + 4 * i));
    }
  }

  // Follows a chain in `table`, refusing loops and sectors outside the table.
  std::vector<uint32_t> Chain(const std::vector<uint32_t>& table, uint32_t start,
                              size_t limit) const {
    std::vector<uint32_t> out;
    std::vector<bool> seen(table.size(), false);
    uint32_t id = start;
    while (id != kEndOfChain) {
      if (id >= table.size())
        Fail(id == kFreeSect ? "chain runs into a free sector"
                             : "sector chain points outside the table");
      if (seen[id]) Fail("loop in a sector chain");
      seen[id] = true;
      out.push_back(id);
      if (out.size() > limit) break;
      id = table[id];
    }
    return out;
  }

  std::vector<uint8_t> ReadChain(uint32_t start, size_t bytes) const {
    const size_t need = (bytes + sector_size_ - 1) / sector_size_;
    const std::vector<uint32_t> ids = Chain(fat_, start, need);
    if (ids.size() < need) Fail("stream is shorter than its recorded size");
    std::vector<uint8_t> out(bytes);
    for (size_t i = 0; i < need; ++i) {
      const size_t n = std::min(sector_size_, bytes - i * sector_size_);
      std::memcpy(out.data() + i * sector_size_, Sector(ids[i], n), n);
    }
    return out;
  }

  std::vector<uint8_t> ReadMini(uint32_t start, size_t bytes) const {
    if (bytes == 0) return {};
    const size_t need = (bytes + mini_size_ - 1) / mini_size_;
    const std::vector<uint32_t> ids = Chain(minifat_, start, need);
    if (ids.size() < need) Fail("stream is shorter than its recorded size");
    std::vector<uint8_t> out(bytes);
    for (size_t i = 0; i < need; ++i) {
      const size_t off = size_t(ids[i]) * mini_size_;
      const size_t n = std::min(mini_size_, bytes - i * mini_size_);
      if (off + n > ministream_.size()) Fail("mini sector past the end of the mini stream");
      std::memcpy(out.data() + i * mini_size_, ministream_.data() + off, n);
    }
    return out;
  }

  void LoadDirectory() {
    const std::vector<uint32_t> ids = Chain(fat_, Le32(data_ + 0x30), sector_count_);
    if (ids.empty()) Fail("no directory");
    for (uint32_t id : ids) {
      const uint8_t* s = Sector(id);
      for (size_t off = 0; off + 128 <= sector_size_; off += 128) {
        const uint8_t* d = s + off;
        Entry e;
        e.type = d[0x42];
        const uint16_t name_bytes = std::min<uint16_t>(Le16(d + 0x40), 64);
        for (size_t i = 0; i + 1 < name_bytes; i += 2) {
          const uint16_t c = Le16(d + i);
          if (c == 0) break;
          e.name.push_back(c < 0x80 ? char(c) : '?');
        }
        e.start = Le32(d + 0x74);
        e.size = Le32(d + 0x78);
        if (sector_size_ == 4096) e.size |= uint64_t(Le32(d + 0x7C)) << 32;
        entries_.push_back(std::move(e));
      }
    }
    if (entries_.empty() || entries_[0].type != 5) Fail("no root entry in the directory");
  }

  void LoadMiniFat() {
    const Entry& root = entries_[0];
    const uint32_t first = Le32(data_ + 0x3C);
    const uint32_t count = Le32(data_ + 0x40);
    if (first >= kMaxRegSect || count == 0) return;
    if (count > sector_count_) Fail("mini FAT larger than the file");
    const std::vector<uint32_t> ids = Chain(fat_, first, count);
    for (uint32_t id : ids) {
      const uint8_t* s = Sector(id);
      for (size_t i = 0; i < sector_size_ / 4; ++i) minifat_.push_back(Le32(s + 4 * i));
    }
    if (root.size > size_) Fail("mini stream size past the end of the file");
    if (root.size > 0) ministream_ = ReadChain(root.start, size_t(root.size));
  }

  const uint8_t* data_;
  size_t size_;
  size_t sector_size_ = 512;
  size_t mini_size_ = 64;
  size_t sector_count_ = 0;
  uint32_t mini_cutoff_ = 4096;
  std::vector<uint32_t> fat_;
  std::vector<uint32_t> minifat_;
  std::vector<uint8_t> ministream_;
  std::vector<Entry> entries_;
};

}  // namespace

bool HasCfbSignature(std::string_view file) {
  return file.size() >= sizeof kMagic && std::memcmp(file.data(), kMagic, sizeof kMagic) == 0;
}

std::vector<uint8_t> ReadCfbStream(std::string_view file, const std::vector<std::string>& names) {
  Cfb cfb(file);
  return cfb.Stream(names);
}

}  // namespace xb::sheet
