#include "sheet/xlsx/part_parser.h"

#include <algorithm>
#include <system_error>

namespace xb::sheet::xlsx {

PartParser::PartParser(Package& package, const std::string& name, bool large, XmlHandler* handler,
                       const std::atomic<bool>* cancel, bool read_ahead)
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

PartParser::~PartParser() {
  ahead_.reset();  // its thread reads file_ until it ends
  XML_ParserFree(parser_);
  zip_fclose(file_);
}

void PartParser::startWith(std::function<std::string(PartParser&)> seek, uint64_t max_quiet) {
  seek_ = std::move(seek);
  max_quiet_ = max_quiet;
}

bool PartParser::run() {
  if (finished_) return false;
  if (seek_) {
    auto seek = std::move(seek_);
    seek_ = nullptr;
    pending_ = seek(*this);
  }
  if (suspended_) {
    suspended_ = false;
    check(XML_ResumeParser(parser_));
    if (suspended_) return true;
    if (finished_ || stopped_ || final_fed_) return finish();
  }
  for (;;) {
    if (cancelled()) Fail("reading was given up");
    void* buffer = XML_GetBuffer(parser_, int(kChunk));
    if (!buffer) FailAs(Reason::OutOfMemory, "not enough memory to read the part " + info_.name);
    zip_int64_t n = 0;
    if (pending_at_ < pending_.size()) {
      // What the seek unpacked ahead, first.
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

zip_int64_t PartParser::unpack(void* buffer) {
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

void PartParser::check(XML_Status status) {
  if (!error_.empty()) Fail(error_);
  if (status == XML_STATUS_ERROR) {
    const XML_Error code = XML_GetErrorCode(parser_);
    if (code == XML_ERROR_ABORTED && stopped_) return;
    Fail("the part " + info_.name + " is no well-formed XML (line " +
         std::to_string(XML_GetCurrentLineNumber(parser_)) + "): " + XML_ErrorString(code));
  }
}

void XMLCALL PartParser::OnStart(void* self, const XML_Char* name, const XML_Char** atts) {
  auto* p = static_cast<PartParser*>(self);
  ++p->events_;
  p->raw_name_ = name;
  if (p->error_.empty()) p->handler_->start(LocalName(name), atts);
}

void XMLCALL PartParser::OnXmlDecl(void* self, const XML_Char*, const XML_Char* encoding, int) {
  auto* p = static_cast<PartParser*>(self);
  if (encoding && !text::EqualsIgnoringCase(encoding, "UTF-8")) p->utf8_ = false;
}

void XMLCALL PartParser::OnEnd(void* self, const XML_Char* name) {
  auto* p = static_cast<PartParser*>(self);
  ++p->events_;
  if (p->error_.empty()) p->handler_->end(LocalName(name));
}

void XMLCALL PartParser::OnText(void* self, const XML_Char* s, int len) {
  auto* p = static_cast<PartParser*>(self);
  ++p->events_;
  if (p->error_.empty()) p->handler_->text(s, len);
}

void XMLCALL PartParser::OnDoctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*,
                                   int) {
  auto* p = static_cast<PartParser*>(self);
  p->fail("the part " + p->info_.name +
          " declares a DOCTYPE, which a workbook never holds: refused");
}

void XMLCALL PartParser::OnEntity(void* self, const XML_Char*, int, const XML_Char*, int,
                                  const XML_Char*, const XML_Char*, const XML_Char*,
                                  const XML_Char*) {
  auto* p = static_cast<PartParser*>(self);
  p->fail("the part " + p->info_.name +
          " declares an XML entity, which a workbook never holds: refused");
}

}  // namespace xb::sheet::xlsx
