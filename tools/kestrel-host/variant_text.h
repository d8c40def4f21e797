// How the host shows a value the plug-in delivered: its type name and its text, the same on
// every system (numbers in the shortest form that reads back exactly, dates in ISO form).
#pragma once

#include <kestrel/oleauto.h>

#include <string>

namespace kestrel::host {

struct ValueText {
  std::string type; // the parser type name ("Integer", "Float", "DateTime", ...), or
                    // "Empty", "Null", "Array"
  std::string text; // plain text, UTF-8
  std::string json; // the value as JSON
};

ValueText DescribeValue(const VARIANT& value);
// As DescribeValue, into `out`, reusing its strings; `json` is filled only `with_json` (else it
// is left empty): only the JSON output needs it.
void DescribeValueInto(const VARIANT& value, ValueText& out, bool with_json);

// `text` as a JSON string literal, quotes included.
std::string JsonQuote(const std::string& text);

// UTF-16 to UTF-8 (unpaired surrogates become U+FFFD).
std::string Utf16ToUtf8(const OLECHAR* text, std::size_t length);
// As Utf16ToUtf8, replacing the contents of `out`.
void AssignUtf16AsUtf8(std::string& out, const OLECHAR* text, std::size_t length);

} // namespace kestrel::host
