#include "operator/operator.h"

#include "operator/texts.h"
#include "reason/reason.h"
#include "text/ascii.h"

namespace xb {

MessageBox Box(std::string text, std::string caption, Icon icon, Modality modality) {
  MessageBox box;
  box.text = std::move(text);
  box.caption = std::move(caption);
  box.icon = icon;
  box.modality = modality;
  return box;
}

MessageBox ConnectedBox() { return Box(texts::kConnected, texts::kInformation, Icon::Information); }

MessageBox ConnectTimedOutBox() {
  return Box(texts::kConnectTimedOut, texts::kConnectTimeoutCaption, Icon::Error);
}

std::string DefaultErrorText(const std::string& message) {
  if (message.empty()) return message;
  const unsigned char last = static_cast<unsigned char>(message.back());
  // A UTF-8 byte of a multi-byte character is >= 0x80, so it gets the ".".
  if (last <= static_cast<unsigned char>('.')) return message;
  return message + ".";
}

std::string OperatorReason(const std::exception& error) {
  const auto* reasoned = dynamic_cast<const Reasoned*>(&error);
  if (!reasoned || reasoned->reason() == Reason::None) return error.what();
  return texts::ReasonText(reasoned->reason(), reasoned->subject(), reasoned->code(),
                           reasoned->detail());
}

std::string ProgramTitle(const std::string& program_path) {
  std::string name = program_path;
  const auto slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const auto dot = name.find('.');
  if (dot != std::string::npos) name.erase(dot);
  name = text::LowerCased(name);
  if (!name.empty()) name[0] = text::UpperAscii(name[0]);
  return name;
}

}  // namespace xb
