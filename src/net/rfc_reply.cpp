#include "net/rfc_reply.h"

#include "util/text.h"

namespace quenby {

TRFCReply::TRFCReply(int code, std::vector<std::string> text) : Text(std::move(text)) {
  SetNumericCode(code);
}

void TRFCReply::SetNumericCode(int code) {
  numeric_code_ = code;
  if (code > 0) {
    text_code_ = std::to_string(code);
  }
}

void TRFCReply::SetTextCode(const std::string& code) {
  text_code_ = code;
  if (!code.empty()) {
    numeric_code_ = StrToIntDef(code, 0);
  }
}

void TRFCReply::SetReply(int code, const std::vector<std::string>& text) {
  SetNumericCode(code);
  Text = text;
}

std::string TRFCReply::FormattedReply() const {
  if (numeric_code_ < 1) {
    return LinesToText(Text);
  }
  const std::string code = std::to_string(numeric_code_);
  if (Text.empty()) {
    return code + "\r\n";
  }
  std::string reply;
  for (std::size_t i = 0; i < Text.size(); ++i) {
    reply += code + (i + 1 < Text.size() ? "-" : " ") + Text[i] + "\r\n";
  }
  return reply;
}

TRFCReply& TRFCReplies::Add(int code, const std::vector<std::string>& text) {
  Items.emplace_back(code, text);
  return Items.back();
}

const TRFCReply* TRFCReplies::FindByNumber(int code) const {
  for (const TRFCReply& item : Items) {
    if (item.NumericCode() == code) {
      return &item;
    }
  }
  return nullptr;
}

void TRFCReplies::UpdateText(TRFCReply& reply) const {
  if (!reply.Text.empty()) {
    return;
  }
  if (const TRFCReply* item = FindByNumber(reply.NumericCode())) {
    reply.Text = item->Text;
  }
}

}  // namespace quenby
