// Epoch times: the templates UNIX, UNIXMS, UNIXUS and UNIXNS read a number of seconds,
// milliseconds, microseconds or nanoseconds since 1970-01-01 00:00 UTC, integer or decimal,
// and give the local date-time of that moment; " UTC" after the token keeps the UTC time.
// These words end a template at once as letter tokens, so no template that reads dates by
// fields can mean anything by them.
#pragma once

#include <optional>
#include <string_view>

namespace kestrel::convert {

struct TEpochTemplate {
  int Digits = 0;   // decimal digits of the unit below a second: 0, 3, 6 or 9
  bool Utc = false; // the UTC date-time rather than the local one
};

// The epoch form a template names, ignoring case and blanks at either end; none for any
// other template.
std::optional<TEpochTemplate> EpochTemplate(std::string_view template_text);

// The date-time (days since 30 December 1899, the time of day as the fraction) of an epoch
// number. EConvertError for a text that is no number and for a moment outside the years
// 1..9999.
double EpochToDateTime(std::string_view text, TEpochTemplate form);

} // namespace kestrel::convert
