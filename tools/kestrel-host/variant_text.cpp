#include "variant_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace kestrel::host {

namespace {

// Writes the UTF-8 form of `code` at `at`; returns the end.
char* AppendUtf8(char* at, uint32_t code) {
  if (code < 0x80) {
    *at++ = static_cast<char>(code);
  } else if (code < 0x800) {
    *at++ = static_cast<char>(0xC0 | (code >> 6));
    *at++ = static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *at++ = static_cast<char>(0xE0 | (code >> 12));
    *at++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *at++ = static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *at++ = static_cast<char>(0xF0 | (code >> 18));
    *at++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *at++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *at++ = static_cast<char>(0x80 | (code & 0x3F));
  }
  return at;
}

std::string DoubleText(double value) {
  if (std::isnan(value))
    return "NaN";
  if (std::isinf(value))
    return value < 0 ? "-Infinity" : "Infinity";
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
  return std::string(buffer, result.ptr);
}

// OLE date: days since 1899-12-30, the time of day as the fraction's magnitude.
std::string DateText(double date) {
  if (!std::isfinite(date) || std::fabs(date) > 2958466.0)
    return DoubleText(date);
  double whole = std::trunc(date);
  int64_t ms = std::llround(std::fabs(date - whole) * 86400000.0);
  if (ms >= 86400000) {
    ms -= 86400000;
    whole += date < 0 ? -1 : 1;
  }
  // Civil date from days since 1970-01-01 (H. Hinnant's algorithm).
  int64_t z = static_cast<int64_t>(whole) - 25569 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char buffer[160];
  std::snprintf(buffer, sizeof(buffer), "%04lld-%02lld-%02lld %02lld:%02lld:%02lld",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(ms / 3600000),
                static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60));
  std::string text(buffer);
  if (ms % 1000) {
    std::snprintf(buffer, sizeof(buffer), ".%03lld", static_cast<long long>(ms % 1000));
    text += buffer;
  }
  return text;
}

std::string CurrencyText(int64_t scaled) {
  const bool negative = scaled < 0;
  const uint64_t magnitude =
      negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string text = std::to_string(magnitude / 10000);
  std::string fraction = std::to_string(10000 + magnitude % 10000).substr(1);
  while (!fraction.empty() && fraction.back() == '0')
    fraction.pop_back();
  if (!fraction.empty())
    text += "." + fraction;
  return negative ? "-" + text : text;
}

ValueText ArrayValue(const SAFEARRAY* array, VARTYPE element, bool with_json) {
  ValueText out{"Array", "[", with_json ? "[" : ""};
  if (array && array->cDims == 1 && array->pvData) {
    const ULONG count = array->rgsabound[0].cElements;
    ValueText part;
    for (ULONG i = 0; i < count; ++i) {
      VARIANT item;
      std::memset(&item, 0, sizeof(item));
      const char* at = static_cast<const char*>(array->pvData) + i * array->cbElements;
      if (element == VT_VARIANT) {
        std::memcpy(&item, at, sizeof(VARIANT));
      } else {
        item.vt = element;
        std::memcpy(&item.llVal, at, std::min<std::size_t>(array->cbElements, 8));
      }
      DescribeValueInto(item, part, with_json);
      if (i)
        out.text += ", ";
      // A string element shows quoted, so that the elements stay apart.
      out.text +=
          part.type == "String" ? (with_json ? part.json : JsonQuote(part.text)) : part.text;
      if (with_json) {
        if (i)
          out.json += ',';
        out.json += part.json;
      }
    }
  }
  out.text += "]";
  if (with_json)
    out.json += "]";
  return out;
}

} // namespace

namespace {

// Copies eight units as bytes when all of them are ASCII (a loop the compiler turns into vector
// code); false, copying nothing, otherwise.
bool CopyAsciiRun(const OLECHAR* from, char* to) {
  uint16_t any = 0;
  for (std::size_t k = 0; k < 8; ++k)
    any |= static_cast<uint16_t>(from[k]);
  if (any >= 0x80)
    return false;
  for (std::size_t k = 0; k < 8; ++k)
    to[k] = static_cast<char>(from[k]);
  return true;
}

} // namespace

void AssignUtf16AsUtf8(std::string& out, const OLECHAR* text, std::size_t length) {
  // Sized for ASCII first; the first unit that needs more bytes grows the string to what the
  // rest can need at most (three bytes a unit, four a pair).
  out.resize(length);
  char* at = out.data();
  std::size_t i = 0;
  while (i + 8 <= length && CopyAsciiRun(text + i, at + i))
    i += 8;
  for (; i < length && static_cast<uint16_t>(text[i]) < 0x80; ++i)
    at[i] = static_cast<char>(text[i]);
  if (i == length)
    return;
  out.resize(i + 3 * (length - i));
  at = out.data() + i;
  while (i < length) {
    if (i + 8 <= length && CopyAsciiRun(text + i, at)) {
      i += 8;
      at += 8;
      continue;
    }
    uint32_t code = static_cast<uint16_t>(text[i]);
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length &&
        static_cast<uint16_t>(text[i + 1]) >= 0xDC00 &&
        static_cast<uint16_t>(text[i + 1]) <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<uint16_t>(text[i + 1]) - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    at = AppendUtf8(at, code);
    ++i;
  }
  out.resize(static_cast<std::size_t>(at - out.data()));
}

std::string Utf16ToUtf8(const OLECHAR* text, std::size_t length) {
  std::string out;
  AssignUtf16AsUtf8(out, text, length);
  return out;
}

std::string JsonQuote(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  std::size_t run = 0; // start of the bytes not yet copied
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\')
      continue;
    out.append(text, run, i - run);
    run = i + 1;
    switch (c) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\t':
      out += "\\t";
      break;
    default: {
      char buffer[8];
      std::snprintf(buffer, sizeof(buffer), "\\u%04x", static_cast<unsigned>(c));
      out += buffer;
    }
    }
  }
  out.append(text, run, std::string::npos);
  out += '"';
  return out;
}

namespace {

// A type name and a text that is its own JSON form (numbers, true/false, null).
void SetPlain(ValueText& out, const char* type, std::string_view text, bool with_json) {
  out.type = type;
  out.text.assign(text);
  if (with_json)
    out.json.assign(text);
  else
    out.json.clear();
}

template <typename Integer>
void SetInteger(ValueText& out, const char* type, Integer number, bool with_json) {
  char buffer[24];
  const auto end = std::to_chars(buffer, buffer + sizeof(buffer), number).ptr;
  SetPlain(out, type, std::string_view(buffer, static_cast<std::size_t>(end - buffer)), with_json);
}

// A type name and a text whose JSON form is the quoted text.
void SetQuoted(ValueText& out, const char* type, bool with_json) {
  out.type = type;
  if (with_json)
    out.json = JsonQuote(out.text);
  else
    out.json.clear();
}

} // namespace

void DescribeValueInto(const VARIANT& value, ValueText& out, bool with_json) {
  if (value.vt & VT_ARRAY) {
    out = ArrayValue(value.parray, static_cast<VARTYPE>(value.vt & VT_TYPEMASK), with_json);
    return;
  }
  switch (value.vt) {
  case VT_EMPTY:
    out.type = "Empty";
    out.text.clear();
    out.json.assign(with_json ? "null" : "");
    return;
  case VT_NULL:
    SetPlain(out, "Null", "null", with_json);
    return;
  case VT_I1:
    SetInteger(out, "Shortint", static_cast<int>(value.cVal), with_json);
    return;
  case VT_UI1:
    SetInteger(out, "Byte", value.bVal, with_json);
    return;
  case VT_I2:
    SetInteger(out, "Smallint", value.iVal, with_json);
    return;
  case VT_UI2:
    SetInteger(out, "Word", value.uiVal, with_json);
    return;
  case VT_I4:
  case VT_INT:
    SetInteger(out, "Integer", value.lVal, with_json);
    return;
  case VT_UI4:
  case VT_UINT:
    SetInteger(out, "DWord", value.ulVal, with_json);
    return;
  case VT_I8:
    SetInteger(out, "Int64", value.llVal, with_json);
    return;
  case VT_UI8:
    SetInteger(out, "Int64", value.ullVal, with_json);
    return;
  case VT_R4:
    SetPlain(out, "Float", DoubleText(value.fltVal), with_json);
    return;
  case VT_R8:
    SetPlain(out, "Float", DoubleText(value.dblVal), with_json);
    return;
  case VT_CY:
    SetPlain(out, "Currency", CurrencyText(value.cyVal.int64), with_json);
    return;
  case VT_BOOL:
    SetPlain(out, "Boolean", value.boolVal ? "true" : "false", with_json);
    return;
  case VT_DATE:
    out.text = DateText(value.date);
    SetQuoted(out, "DateTime", with_json);
    return;
  case VT_BSTR:
    if (value.bstrVal)
      AssignUtf16AsUtf8(out.text, value.bstrVal, SysStringLen(value.bstrVal));
    else
      out.text.clear();
    SetQuoted(out, "String", with_json);
    return;
  default:
    out.text = "(variant type " + std::to_string(value.vt) + ")";
    SetQuoted(out, "Unknown", with_json);
    return;
  }
}

ValueText DescribeValue(const VARIANT& value) {
  ValueText out;
  DescribeValueInto(value, out, true);
  return out;
}

} // namespace kestrel::host
