// Flattens arbitrary bytes under options chosen by the first three bytes. Rows must hold only
// non-blank names, and the list returned must be the last row delivered.
#include "json/json_to_list.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace kestrel;
using namespace kestrel::json::JsonToList;

void Check(bool condition) {
  if (!condition)
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3)
    return 0;
  const uint8_t flags = data[0];
  const uint8_t depth = data[1];
  const uint8_t rule_bits = data[2];
  const std::string_view text(reinterpret_cast<const char*>(data) + 3, size - 3);

  TParserOptions options;
  options.AddNodeName = flags & 1;
  options.UpperCase = flags & 2;
  options.Separator = (flags & 4) ? '_' : 0;
  if (flags & 8)
    options.TopPrefix = "top";
  if (flags & 16)
    options.StartNodeName.push_back('a');
  options.MaxDepth = static_cast<int8_t>(depth) % 8;

  TParserItemList rules;
  if (flags & 32) {
    for (const char* name : {"a", "b", "c"}) {
      TParserItem rule;
      rule.Name = name;
      rule.Kind = static_cast<uint8_t>(rule_bits % 3);
      rule.Include = (rule_bits >> 2) & 1;
      rule.DataType = static_cast<uint8_t>((rule_bits >> 3) % 18);
      rules.push_back(rule);
    }
  }
  options.OnConvertValue = [](const TParserItem& rule, const std::string& text, Variant& value) {
    if (rule.DataType % 2)
      return false;
    value = Variant(static_cast<int32_t>(text.size()));
    return true;
  };
  int last_count = -1;
  int rows = 0;
  options.OnObjectDone = [&](int index, TorvParamsList& list, const TParserOptions&) {
    Check(index >= 0);
    for (int i = 0; i < list.Count(); ++i) {
      bool blank = true;
      for (const unsigned char c : list.Items(i)->Name)
        blank = blank && c <= ' ';
      Check(!blank);
    }
    last_count = list.Count();
    ++rows;
  };
  const auto list = FlattenJsonText(text, options, &rules);
  if (list) {
    Check(rows > 0 && list->Count() == last_count);
  }
  return 0;
}
