#pragma once
// One part's XML, parsed by expat as it is unpacked. Faults found inside an
// expat callback stop the parser and are thrown once control is back in C++
// (never through expat's C frames).

#include <expat.h>

#include <atomic>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "sheet/xlsx/package.h"
#include "text/ascii.h"

namespace xb::sheet::xlsx {

// A start tag, comment or other token that runs on this long is refused:
// expat would otherwise hold all of it in memory at once.
constexpr uint64_t kMaxTokenBytes = uint64_t(16) << 20;

// The name after its last colon. Called for every tag and attribute of a
// sheet: one pass, no library call (the names are a few characters).
inline std::string_view LocalName(const char* name) {
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

inline const char* Attr(const char** atts, std::string_view local) {
  for (int i = 0; atts[i]; i += 2)
    if (LocalName(atts[i]) == local) return atts[i + 1];
  return nullptr;
}

inline bool ParseUint(std::string_view s, uint64_t& out) {
  s = text::Trimmed(s);
  if (s.empty()) return false;
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && ptr == s.data() + s.size();
}

class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  virtual void start(std::string_view name, const char** atts) = 0;
  virtual void end(std::string_view name) = 0;
  virtual void text(const char*, int) {}
};

class PartParser {
 public:
  // With cancel, reading stops with a fault once it is set; with
  // read_ahead, the part is unpacked on a thread of its own.
  PartParser(Package& package, const std::string& name, bool large, XmlHandler* handler,
             const std::atomic<bool>* cancel = nullptr, bool read_ahead = false);
  ~PartParser();
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

  // For a parser that starts within the part: before the first bytes are
  // parsed, seek unpacks what lies before its start (with unpack) and
  // returns the bytes to parse first; a fault there is the parser's. Its
  // reasons are never shown, so any token the limit may refuse, it refuses
  // too (max_quiet is lower).
  void startWith(std::function<std::string(PartParser&)> seek, uint64_t max_quiet);
  // The next unpacked bytes of the part, up to kChunk (0 at its end),
  // counted against its size.
  zip_int64_t unpack(void* buffer);
  // How many bytes of the part were unpacked.
  uint64_t unpacked() const { return read_; }
  bool cancelled() const { return cancel_ && cancel_->load(std::memory_order_relaxed); }

  // Parses until the handler pauses (true) or the part ends (false).
  bool run();
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
  // For the handler: the rest of the part is not needed (also after a pause
  // asked for in the same element, as for <sheetData/>).
  void stop() {
    if (stopped_ || !error_.empty()) return;
    stopped_ = true;
    suspended_ = false;
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
  void check(XML_Status status);

  static void XMLCALL OnStart(void* self, const XML_Char* name, const XML_Char** atts);
  static void XMLCALL OnXmlDecl(void* self, const XML_Char*, const XML_Char* encoding, int);
  static void XMLCALL OnEnd(void* self, const XML_Char* name);
  static void XMLCALL OnText(void* self, const XML_Char* s, int len);
  static void XMLCALL OnDoctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*, int);
  static void XMLCALL OnEntity(void* self, const XML_Char*, int, const XML_Char*, int,
                               const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*);

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
  std::function<std::string(PartParser&)> seek_;  // set for a parser that starts within the part
  std::string pending_;                           // fed before the rest of the part
  size_t pending_at_ = 0;
  bool suspended_ = false;
  bool stopped_ = false;
  bool finished_ = false;
  bool final_fed_ = false;
  std::string error_;
};

}  // namespace xb::sheet::xlsx
