// Reading dates and times by template.
#include "convert/date_time_templates.h"
#include "common/ascii_text.h"
#include "common/ole_date.h"
#include "convert/epoch_time.h"

#include "platform/text.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <string>

namespace kestrel::convert::DateTimeTemplates {

namespace {

using platform::LocaleSettings;

enum class Kind {
  End,
  Char,      // a literal character
  Quoted,    // a quoted literal
  DateSep,   // the locale's date separator
  TimeSep,   // the locale's time separator
  Composite, // stands for one of the locale's formats
  Number,    // a numeric field
  ShortDayName,
  LongDayName,
  ShortMonthName,
  LongMonthName,
  AmPmFixed, // "AM" / "PM"
  APFixed,   // "A" / "P"
  AmPmLocale,
  None,
};

enum class Field { Day, Month, Year2, Year4, Hour, Minute, Second, SecondFraction, Millisecond };

enum class Format { ShortDate, LongDate, ShortTime, LongTime, DateTime };

struct Token {
  Kind kind = Kind::None;
  std::size_t begin = 0;
  std::size_t end = 0; // past the token in the template
  // Number
  Field field = Field::Day;
  std::size_t max_digits = 0;
  bool leading_spaces = false;
  std::string_view first_digits; // empty: any
  // Composite
  Format format = Format::ShortDate;
  // Char and Quoted
  std::string_view literal;
};

constexpr std::string_view kDays = "0123";
constexpr std::string_view kMonths = "01";
constexpr std::string_view kHours = "012";
constexpr std::string_view kSixties = "012345";

bool IsLiteralChar(char c) {
  return std::string_view("\t\n\r `@.,~!#$%^&*()_-=+\\|]}[{?;").find(c) != std::string_view::npos;
}

bool IsAsciiAlnum(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  return out;
}

Token Numeric(std::size_t pos, std::size_t length, Field field, std::size_t max_digits,
              bool leading_spaces, std::string_view first_digits) {
  Token token;
  token.kind = Kind::Number;
  token.begin = pos;
  token.end = pos + length;
  token.field = field;
  token.max_digits = max_digits;
  token.leading_spaces = leading_spaces;
  token.first_digits = first_digits;
  return token;
}

Token Simple(Kind kind, std::size_t pos, std::size_t length) {
  Token token;
  token.kind = kind;
  token.begin = pos;
  token.end = pos + length;
  return token;
}

Token Composite(Format format, std::size_t pos, std::size_t length) {
  Token token = Simple(Kind::Composite, pos, length);
  token.format = format;
  return token;
}

// A quote closes the literal unless another quote of its kind comes before the next letter
// or digit; then it belongs to the literal. An unclosed literal runs to the end.
Token QuotedLiteral(std::string_view t, std::size_t pos) {
  const char quote = t[pos];
  std::size_t i = pos + 1;
  while (i < t.size()) {
    if (t[i] == quote) {
      bool another = false;
      for (std::size_t k = i + 1; k < t.size() && !IsAsciiAlnum(t[k]); ++k)
        if (t[k] == quote) {
          another = true;
          break;
        }
      if (!another) {
        Token token = Simple(Kind::Quoted, pos, i + 1 - pos);
        token.literal = t.substr(pos + 1, i - pos - 1);
        return token;
      }
    }
    ++i;
  }
  Token token = Simple(Kind::Quoted, pos, t.size() - pos);
  token.literal = t.substr(pos + 1);
  return token;
}

// The token at `pos` of an upper-cased template.
Token NextToken(std::string_view t, std::size_t pos) {
  if (pos >= t.size())
    return Simple(Kind::End, pos, 0);
  const char c = t[pos];
  if (IsLiteralChar(c)) {
    Token token = Simple(Kind::Char, pos, 1);
    token.literal = t.substr(pos, 1);
    return token;
  }
  std::size_t run = 1;
  while (pos + run < t.size() && t[pos + run] == c)
    ++run;
  switch (c) {
  case 'C':
    return Composite(Format::DateTime, pos, 1);
  case 'D':
    switch (run) {
    case 1:
      return Numeric(pos, 1, Field::Day, 2, true, kDays);
    case 2:
      return Numeric(pos, 2, Field::Day, 2, false, kDays);
    case 3:
      return Simple(Kind::ShortDayName, pos, 3);
    case 4:
      return Simple(Kind::LongDayName, pos, 4);
    case 5:
      return Composite(Format::ShortDate, pos, 5);
    default:
      return Composite(Format::LongDate, pos, 6);
    }
  case 'M':
    switch (run) {
    case 1:
      return Numeric(pos, 1, Field::Month, 2, true, kMonths);
    case 2:
      return Numeric(pos, 2, Field::Month, 2, false, kMonths);
    case 3:
      return Simple(Kind::ShortMonthName, pos, 3);
    case 4:
      return Simple(Kind::LongMonthName, pos, 4);
    default:
      return Simple(Kind::None, pos, 0);
    }
  case 'Y':
    if (run == 2)
      return Numeric(pos, 2, Field::Year2, 2, false, {});
    if (run >= 4)
      return Numeric(pos, 4, Field::Year4, 4, false, {});
    return Simple(Kind::None, pos, 0);
  case 'H':
    return run == 1 ? Numeric(pos, 1, Field::Hour, 2, true, kHours)
                    : Numeric(pos, 2, Field::Hour, 2, false, kHours);
  case 'N':
    return run == 1 ? Numeric(pos, 1, Field::Minute, 2, true, kSixties)
                    : Numeric(pos, 2, Field::Minute, 2, false, kSixties);
  case 'S':
    if (run == 1)
      return Numeric(pos, 1, Field::Second, 2, true, kSixties);
    if (run == 2)
      return Numeric(pos, 2, Field::Second, 2, false, kSixties);
    return Numeric(pos, 3, Field::SecondFraction, 3, true, {});
  case 'Z':
    if (run == 2)
      return Simple(Kind::None, pos, 0);
    return Numeric(pos, run >= 3 ? 3 : 1, Field::Millisecond, 3, true, {});
  case 'T':
    return run == 1 ? Composite(Format::ShortTime, pos, 1) : Composite(Format::LongTime, pos, 2);
  case 'A':
    if (t.substr(pos, 5) == "AM/PM")
      return Simple(Kind::AmPmFixed, pos, 5);
    if (t.substr(pos, 3) == "A/P")
      return Simple(Kind::APFixed, pos, 3);
    if (t.substr(pos, 4) == "AMPM")
      return Simple(Kind::AmPmLocale, pos, 4);
    return Simple(Kind::None, pos, 0);
  case '\'':
  case '"':
    return QuotedLiteral(t, pos);
  case '/':
    return Simple(Kind::DateSep, pos, 1);
  case ':':
    return Simple(Kind::TimeSep, pos, 1);
  default:
    return Simple(Kind::None, pos, 0);
  }
}

std::string ExpandTemplate(std::string_view template_text, const LocaleSettings& settings) {
  const std::string upper = UpperAscii(template_text);
  std::string expanded;
  std::size_t pos = 0;
  for (;;) {
    const Token token = NextToken(upper, pos);
    if (token.kind == Kind::End || token.kind == Kind::None)
      break;
    if (token.kind == Kind::Composite) {
      switch (token.format) {
      case Format::ShortDate:
        expanded += settings.short_date_format;
        break;
      case Format::LongDate:
        expanded += settings.long_date_format;
        break;
      case Format::ShortTime:
        expanded += settings.short_time_format;
        break;
      case Format::LongTime:
        expanded += settings.long_time_format;
        break;
      case Format::DateTime:
        expanded += settings.short_date_format;
        expanded += ' ';
        expanded += settings.long_time_format;
        break;
      }
    } else {
      expanded.append(upper, token.begin, token.end - token.begin);
    }
    pos = token.end;
  }
  return UpperAscii(expanded);
}

const char* FieldName(Field field) {
  switch (field) {
  case Field::Day:
    return "day";
  case Field::Month:
    return "month";
  case Field::Year2:
  case Field::Year4:
    return "year";
  case Field::Hour:
    return "hour";
  case Field::Minute:
    return "minute";
  case Field::Second:
  case Field::SecondFraction:
    return "second";
  case Field::Millisecond:
    return "millisecond";
  }
  return "?";
}

} // namespace

bool UsesLocaleFormats(std::string_view template_text) {
  const std::string upper = UpperAscii(template_text);
  for (std::size_t pos = 0;;) {
    const Token token = NextToken(upper, pos);
    if (token.kind == Kind::End || token.kind == Kind::None)
      return false;
    if (token.kind == Kind::Composite)
      return true;
    pos = token.end;
  }
}

TTemplateReport InspectTemplate(std::string_view template_text, const LocaleSettings& settings) {
  TTemplateReport report;
  if (EpochTemplate(template_text)) {
    // A whole moment: no fields, nothing the locale expands.
    report.Expanded = UpperAscii(TrimBlanks(template_text));
    return report;
  }
  const std::string upper = UpperAscii(template_text);
  for (std::size_t pos = 0;;) {
    const Token token = NextToken(upper, pos);
    if (token.kind == Kind::End)
      break;
    if (token.kind == Kind::None) {
      report.StoppedAt = pos;
      break;
    }
    pos = token.end;
  }
  report.Expanded = ExpandTemplate(template_text, settings);
  const std::string_view expanded = report.Expanded;
  for (std::size_t pos = 0;;) {
    const Token token = NextToken(expanded, pos);
    if (token.kind == Kind::End || token.kind == Kind::None)
      break;
    const std::string text(expanded.substr(token.begin, token.end - token.begin));
    if (token.kind == Kind::Number)
      report.Fields.emplace_back(FieldName(token.field), text);
    else if (token.kind == Kind::ShortMonthName || token.kind == Kind::LongMonthName)
      report.Fields.emplace_back("month", text);
    pos = token.end;
  }
  return report;
}

namespace {

// The fields of one reading.
struct WorkRecord {
  uint16_t year = 1899, month = 12, day_of_week = 0, day = 30;
  uint16_t hour = 0, minute = 0, second = 0, millisecond = 0;
  bool year_given = false;
  bool month_given = false;
  bool day_given = false;
};

class Scanner {
public:
  Scanner(std::string_view expanded, std::string_view text, const LocaleSettings& settings)
      : expanded_(expanded), text_(text), settings_(settings) {}

  void Run(WorkRecord& record) {
    std::size_t pos = 0;
    do {
      const Token token = NextToken(expanded_, pos);
      Apply(token, record);
      pos = token.end;
    } while (pos < expanded_.size() && at_ < text_.size());
  }

private:
  [[noreturn]] void FormatError(const Token& token) const {
    throw EConvertError("On format: " + std::string(expanded_.substr(token.begin)) +
                        " string: " + std::string(text_.substr(at_)));
  }

  std::string_view Rest() const { return text_.substr(at_); }

  // True (and consumed) when the text continues with `s`, compared without regard to case.
  bool Take(std::string_view s) {
    const std::string_view rest = Rest();
    if (s.size() > rest.size())
      return false;
    if (platform::AnsiUpperCase(rest.substr(0, s.size())) != platform::AnsiUpperCase(s))
      return false;
    at_ += s.size();
    return true;
  }

  // The first non-empty name the text continues with; its index, or -1. A name the code page
  // could not hold has its lost characters as '?' and never matches: it would match any other
  // text that lost its characters, whatever it said.
  template <std::size_t N> int TakeName(const std::array<std::string, N>& names) {
    for (std::size_t i = 0; i < N; ++i)
      if (!names[i].empty() && names[i].find('?') == std::string::npos && Take(names[i]))
        return static_cast<int>(i);
    return -1;
  }

  // Reads up to `max_digits` characters: leading spaces when allowed, then digits. A first
  // digit outside the allowed set is a complete one-digit number.
  uint16_t ReadNumber(const Token& token, std::size_t& digits) {
    const std::string_view rest = Rest();
    const std::size_t limit = std::min(token.max_digits, rest.size());
    std::size_t i = 0;
    digits = 0;
    unsigned value = 0;
    while (i < limit) {
      const char c = rest[i];
      if (c == ' ') {
        if (digits == 0 && token.leading_spaces) {
          ++i;
          continue;
        }
        break;
      }
      if (c < '0' || c > '9')
        break;
      value = value * 10 + static_cast<unsigned>(c - '0');
      ++digits;
      ++i;
      if (digits == 1 && !token.first_digits.empty() &&
          token.first_digits.find(c) == std::string_view::npos)
        break;
    }
    if (digits == 0)
      throw EConvertError("'" + std::string(rest.substr(0, i)) + "' is not a valid integer value");
    at_ += i;
    return static_cast<uint16_t>(value);
  }

  void ApplyNumber(const Token& token, WorkRecord& record) {
    std::size_t digits = 0;
    const uint16_t value = ReadNumber(token, digits);
    switch (token.field) {
    case Field::Day:
      record.day = value;
      record.day_given = true;
      break;
    case Field::Month:
      record.month = value;
      record.month_given = true;
      break;
    case Field::Year2:
      record.year = static_cast<uint16_t>(value < 50 ? 2000 + value : 1900 + value);
      record.year_given = true;
      break;
    case Field::Year4:
      record.year = value;
      record.year_given = true;
      break;
    case Field::Hour:
      record.hour = value;
      break;
    case Field::Minute:
      record.minute = value;
      break;
    case Field::Second:
      record.second = value;
      break;
    case Field::SecondFraction: {
      // A decimal fraction of a minute: its digit count says where the point is.
      const unsigned divisor = digits == 1 ? 10 : digits == 2 ? 100 : 1000;
      record.second = static_cast<uint16_t>(value * 60u / divisor);
      break;
    }
    case Field::Millisecond:
      record.millisecond = value;
      break;
    }
  }

  void ApplyHalfDay(const Token& token, std::string_view am, std::string_view pm,
                    WorkRecord& record) {
    if (!pm.empty() && Take(pm)) {
      if (record.hour != 12)
        record.hour = static_cast<uint16_t>(record.hour + 12);
    } else if (!am.empty() && Take(am)) {
      if (record.hour == 12)
        record.hour = 0;
    } else if (!am.empty() || !pm.empty()) {
      FormatError(token);
    }
    // A locale without half-day texts writes 24-hour times: the marker reads nothing.
  }

  void Apply(const Token& token, WorkRecord& record) {
    switch (token.kind) {
    case Kind::Char:
    case Kind::Quoted:
      if (!Take(token.literal))
        FormatError(token);
      return;
    case Kind::DateSep:
      if (!Take(std::string_view(&settings_.date_separator, 1)))
        FormatError(token);
      return;
    case Kind::TimeSep:
      if (!Take(std::string_view(&settings_.time_separator, 1)))
        FormatError(token);
      return;
    case Kind::Number:
      return ApplyNumber(token, record);
    case Kind::ShortDayName:
      if (TakeName(settings_.short_day_names) < 0)
        FormatError(token);
      return;
    case Kind::LongDayName:
      if (TakeName(settings_.long_day_names) < 0)
        FormatError(token);
      return;
    case Kind::ShortMonthName:
    case Kind::LongMonthName: {
      const int month = TakeName(token.kind == Kind::ShortMonthName ? settings_.short_month_names
                                                                    : settings_.long_month_names);
      if (month < 0)
        FormatError(token);
      record.month = static_cast<uint16_t>(month + 1);
      record.month_given = true;
      return;
    }
    case Kind::AmPmFixed:
      return ApplyHalfDay(token, "AM", "PM", record);
    case Kind::APFixed:
      return ApplyHalfDay(token, "A", "P", record);
    case Kind::AmPmLocale:
      return ApplyHalfDay(token, settings_.time_am, settings_.time_pm, record);
    case Kind::End:
    case Kind::Composite:
    case Kind::None:
      FormatError(token);
    }
  }

  std::string_view expanded_;
  std::string_view text_;
  const LocaleSettings& settings_;
  std::size_t at_ = 0;
};

bool DateExists(unsigned year, unsigned month, unsigned day) {
  return IsValidCivilDate(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day));
}

TDateTime Combine(const WorkRecord& r) {
  const TDateTime date = EncodeDate(r.year, r.month, r.day);
  const TDateTime time = EncodeTime(r.hour, r.minute, r.second, r.millisecond);
  return date >= 0 ? date + time : date - time;
}

TDateTime FromLocalTime(const platform::LocalTime& now) {
  return OleDateTimeFromLocalTime(now);
}

struct LocaleCache {
  std::mutex lock;
  bool filled = false;
  uint32_t lcid = 0;
  LocaleSettings settings;
};

LocaleCache& Cache() {
  static LocaleCache cache;
  return cache;
}

} // namespace

TDateTime EncodeDate(uint16_t year, uint16_t month, uint16_t day) {
  if (!DateExists(year, month, day))
    throw EConvertError("Invalid argument to date encode");
  return OleDateFromCivil(year, month, day);
}

TDateTime EncodeTime(uint16_t hour, uint16_t minute, uint16_t second, uint16_t millisecond) {
  if (hour >= 24 || minute >= 60 || second >= 60 || millisecond >= 1000)
    throw EConvertError("Invalid argument to time encode");
  return OleTimeOfDay(hour, minute, second, millisecond);
}

platform::LocaleSettings CachedLocaleSettings(uint32_t lcid) {
  LocaleCache& cache = Cache();
  std::lock_guard<std::mutex> guard(cache.lock);
  if (!cache.filled || cache.lcid != lcid) {
    cache.settings = platform::GetLocaleSettings(lcid);
    cache.lcid = lcid;
    cache.filled = true;
  }
  return cache.settings;
}

TDateTime ScanDateTime(std::string_view template_text, std::string_view text, bool use_current_date,
                       const platform::LocaleSettings& settings, bool use_current_time,
                       const platform::LocalTime& now) {
  WorkRecord record;
  if (use_current_date) {
    record.year = now.year;
    record.month = now.month;
    record.day_of_week = now.day_of_week;
    record.day = now.day;
  }
  if (use_current_time) {
    record.hour = now.hour;
    record.minute = now.minute;
    record.second = now.second;
    record.millisecond = now.milliseconds;
  }
  const std::string expanded = ExpandTemplate(template_text, settings);
  const std::string upper_text = UpperAscii(text);
  Scanner(expanded, upper_text, settings).Run(record);
  if (record.month_given && !record.day_given)
    record.day = 1; // a month alone stands for its first day

  // A day and month without a year, more than 30 days ahead, is taken from the past year; when
  // that year (or this one) lacks the day, as 29 February, from the latest earlier year that
  // has it. Years with a 29 February are at most eight apart.
  if (use_current_date && record.month_given && !record.year_given) {
    const TDateTime present = FromLocalTime(now);
    for (int step = 0; step < 8 && record.year > 1; ++step) {
      if (DateExists(record.year, record.month, record.day) && Combine(record) - present <= 30)
        break;
      --record.year;
    }
  }
  return Combine(record);
}

TDateTime ScanDateTime(std::string_view template_text, std::string_view text, bool use_current_date,
                       const platform::LocaleSettings& settings, bool use_current_time) {
  return ScanDateTime(template_text, text, use_current_date, settings, use_current_time,
                      platform::LocalTimeNow());
}

TDateTime ParseDateTimeByTemplate(std::string_view template_text, uint32_t lcid,
                                  std::string_view text, bool use_current_time,
                                  bool use_current_date) {
  if (template_text.empty())
    return 0;
  if (const auto epoch = EpochTemplate(template_text))
    return EpochToDateTime(text, *epoch);
  const platform::LocaleSettings settings = CachedLocaleSettings(lcid);
  return ScanDateTime(template_text, text, use_current_date, settings, use_current_time);
}

} // namespace kestrel::convert::DateTimeTemplates
