// The module's message texts, in English as written here; the interface translator rewrites
// them in place through the list of references (component tag 9997: translated as a whole).
#pragma once

#include <cstdint>
#include <initializer_list>
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

// Fills the "%s" places of a message text in order; surplus places stay empty, surplus
// arguments are dropped. "%%" is a percent sign.
std::string FormatMessageText(std::string_view pattern,
                              std::initializer_list<std::string_view> args);

} // namespace kestrel::parser
