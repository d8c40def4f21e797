#include "variant_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace kestrel::host {

namespace {

void AppendUtf8(std::string* out, uint32_t code) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
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

ValueText Number(const char* type, const std::string& text) {
  return ValueText{type, text, text};
}

ValueText ArrayValue(const SAFEARRAY* array, VARTYPE element) {
  ValueText out{"Array", "[", "["};
  if (array && array->cDims == 1 && array->pvData) {
    const ULONG count = array->rgsabound[0].cElements;
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
      const ValueText part = DescribeValue(item);
      const std::string separator = i ? ", " : "";
      out.text += separator + (part.type == "String" ? part.json : part.text);
      out.json += (i ? "," : "") + part.json;
    }
  }
  out.text += "]";
  out.json += "]";
  return out;
}

} // namespace

std::string Utf16ToUtf8(const OLECHAR* text, std::size_t length) {
  std::string out;
  out.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    uint32_t code = static_cast<uint16_t>(text[i]);
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length &&
        static_cast<uint16_t>(text[i + 1]) >= 0xDC00 &&
        static_cast<uint16_t>(text[i + 1]) <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<uint16_t>(text[i + 1]) - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    AppendUtf8(&out, code);
  }
  return out;
}

std::string JsonQuote(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
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
    default:
      if (static_cast<unsigned char>(c) < 0x20) {
        char buffer[8];
        std::snprintf(buffer, sizeof(buffer), "\\u%04x", static_cast<unsigned>(c));
        out += buffer;
      } else {
        out.push_back(c);
      }
    }
  }
  return out + "\"";
}

ValueText DescribeValue(const VARIANT& value) {
  if (value.vt & VT_ARRAY)
    return ArrayValue(value.parray, static_cast<VARTYPE>(value.vt & VT_TYPEMASK));
  switch (value.vt) {
  case VT_EMPTY:
    return ValueText{"Empty", "", "null"};
  case VT_NULL:
    return ValueText{"Null", "null", "null"};
  case VT_I1:
    return Number("Shortint", std::to_string(static_cast<int>(value.cVal)));
  case VT_UI1:
    return Number("Byte", std::to_string(value.bVal));
  case VT_I2:
    return Number("Smallint", std::to_string(value.iVal));
  case VT_UI2:
    return Number("Word", std::to_string(value.uiVal));
  case VT_I4:
  case VT_INT:
    return Number("Integer", std::to_string(value.lVal));
  case VT_UI4:
  case VT_UINT:
    return Number("DWord", std::to_string(value.ulVal));
  case VT_I8:
    return Number("Int64", std::to_string(value.llVal));
  case VT_UI8:
    return Number("Int64", std::to_string(value.ullVal));
  case VT_R4:
    return Number("Float", DoubleText(value.fltVal));
  case VT_R8:
    return Number("Float", DoubleText(value.dblVal));
  case VT_CY:
    return Number("Currency", CurrencyText(value.cyVal.int64));
  case VT_BOOL:
    return Number("Boolean", value.boolVal ? "true" : "false");
  case VT_DATE: {
    const std::string text = DateText(value.date);
    return ValueText{"DateTime", text, JsonQuote(text)};
  }
  case VT_BSTR: {
    const std::string text =
        value.bstrVal ? Utf16ToUtf8(value.bstrVal, SysStringLen(value.bstrVal)) : std::string();
    return ValueText{"String", text, JsonQuote(text)};
  }
  default: {
    const std::string text = "(variant type " + std::to_string(value.vt) + ")";
    return ValueText{"Unknown", text, JsonQuote(text)};
  }
  }
}

} // namespace kestrel::host
