#pragma once

#include <string>
#include <vector>

namespace quenby {

/// A numbered reply of a line protocol: the server's greeting and its refusal at the
/// connection limit. Plain data of the thread that uses it.
class TRFCReply {
 public:
  TRFCReply() = default;
  TRFCReply(int code, std::vector<std::string> text);

  /// Text lines of the reply.
  std::vector<std::string> Text;

  int NumericCode() const { return numeric_code_; }
  /// Also sets TextCode to the decimal form when above 0.
  void SetNumericCode(int code);
  const std::string& TextCode() const { return text_code_; }
  /// A non-empty text also sets NumericCode from it (0 when it is not a number).
  void SetTextCode(const std::string& code);
  /// Code and text at once.
  void SetReply(int code, const std::vector<std::string>& text);

  /// A code of at least 1 or at least one text line.
  bool HasContent() const { return numeric_code_ >= 1 || !Text.empty(); }
  /// The wire form, every line ended by CR LF ("250-first", "250 last").
  std::string FormattedReply() const;

 private:
  int numeric_code_ = 0;
  std::string text_code_;
};

/// Default texts by numeric code, filled into replies that have none.
class TRFCReplies {
 public:
  std::vector<TRFCReply> Items;

  TRFCReply& Add(int code, const std::vector<std::string>& text);
  /// The item with this numeric code, or nullptr.
  const TRFCReply* FindByNumber(int code) const;
  /// Gives `reply` the text of the item with its code when it has no text of its own.
  void UpdateText(TRFCReply& reply) const;
};

}  // namespace quenby
