// The module's message texts, in English as written here, and the translated set the module
// logs with (component tag 9997: translated as a whole, never property by property).
#pragma once

#include "framework/module_translator.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::parser {

class TTextResources {
public:
  static constexpr int32_t kTag = 9997;

  std::string ParamFormatError = "Error occurred while parameter formatting (%s)";
  std::string DateTimeFormatError =
      "Failed to convert the date/time string '%s' using the template '%s' (%s).";
  std::string RegExprError = "Invalid regular expression %s [%s]. Please ensure correct syntax "
                             "for the regular expression.";
  std::string ParseError = "Unable to parse data";
  std::string Attention = "Attention";
  std::string ConfigError = "Error occurred while changing the configuration (%s)";
  std::string NumberAsText =
      "The number %s is beyond the range of a floating-point value and is delivered as text";

  int32_t Tag = kTag;

  // The texts in order, for the translator.
  std::vector<std::string*> Texts() {
    return {&ParamFormatError, &DateTimeFormatError, &RegExprError, &ParseError,
            &Attention,        &ConfigError,         &NumberAsText};
  }
};

// The message texts in use. Packet threads take the current set whole; translating builds a
// new set from the English originals and swaps it in under the lock, so a packet logs with
// either the old or the new texts, never a mixture and never a text being rewritten.
class TMessageTexts : public ITranslatableTexts {
public:
  TMessageTexts() : current_(std::make_shared<const TTextResources>()) {}

  std::shared_ptr<const TTextResources> Current() const {
    std::lock_guard lock(mutex_);
    return current_;
  }

  // ITranslatableTexts: the English texts in order, and the translated set in the same order
  // (missing entries keep their English text).
  std::vector<std::string> OriginalTexts() const override;
  void SetTexts(std::vector<std::string> texts) override;

private:
  mutable std::mutex mutex_;
  std::shared_ptr<const TTextResources> current_;
};

// Fills the "%s" places of a message text in order; surplus places stay empty, surplus
// arguments are dropped. "%%" is a percent sign.
std::string FormatMessageText(std::string_view pattern,
                              std::initializer_list<std::string_view> args);

} // namespace kestrel::parser
