// Flattening of a JSON block into lists of named values: leaf members become values named
// after the member (optionally prefixed by the enclosing members), arrays become variant
// arrays, nested objects are descended into up to a depth, and item rules select, skip and
// convert members.
#pragma once

#include "common/orv_param_lst.h"
#include "common/variant.h"
#include "json/json_document.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::json::JsonToList {

// One rule of the user's JSON item list.
class TParserItem {
public:
  // Kind values: which members a rule applies to.
  static constexpr uint8_t kAnyMember = 0;
  static constexpr uint8_t kValueMember = 1;  // members whose value is not an object
  static constexpr uint8_t kObjectMember = 2; // members whose value is an object

  std::string Name; // member name, stored lower-cased
  uint8_t Kind = kAnyMember;
  uint8_t Include = 1;   // 1: flattened; anything else: left out (for objects, with the subtree)
  uint8_t DataType = 17; // data type code the value is converted to (17: untyped)
  std::string Text;      // not filled by the flattening
};

using TParserItemList = std::vector<TParserItem>;

struct TParserOptions;

// (rule, value as text, out value) -> true when the value was produced, false to keep the text.
using TConvertValueEvent =
    std::function<bool(const TParserItem& rule, const std::string& text, Variant& value)>;
// (index, the object's values, options): once per flattened top-level object with values.
using TObjectDoneEvent =
    std::function<void(int index, TorvParamsList& list, const TParserOptions& options)>;
// (the number's text): a number beyond the double range is delivered as this text.
using TNumberAsTextEvent = std::function<void(const std::string& text)>;
// (rule, the value's text, its 8-bit form, out value): for a text that holds characters the
// system code page cannot represent, so that its 8-bit form lost them; true when the value was
// produced, false to keep the text as the document holds it.
using TConvertWideValueEvent =
    std::function<bool(const TParserItem& rule, platform::WideStringView text,
                       const std::string& lossy, Variant& value)>;
// (the member name, the 8-bit name it is delivered under): a name the code page cannot hold.
using TLossyNameEvent =
    std::function<void(platform::WideStringView name, const std::string& written)>;
// (rule): the rule met a member that gives no value of its own: a member it leaves out, or an
// object that is flattened below it.
using TRuleMetEvent = std::function<void(const TParserItem& rule)>;

struct TParserOptions {
  std::string StartNodeName; // when set, flattening starts at the first member of that name
  std::string TopPrefix;     // prefix of the first-level names
  char Separator = 0;        // joins prefix and name; 0 = no separator
  bool AddNodeName = false;  // names carry the path of enclosing member names
  bool UpperCase = false;    // names are upper-cased (a-z only)
  int32_t MaxDepth = 0;      // deepest object level flattened; 0 or less = no limit
  // Each object of an array of objects is flattened as a nested object named by its index
  // (readings_0_t); an array with a rule of its own, or holding anything else, stays one value.
  bool ExpandArrays = false;
  TConvertValueEvent OnConvertValue;
  TObjectDoneEvent OnObjectDone;
  TNumberAsTextEvent OnNumberAsText; // optional
  // Optional: texts the code page cannot hold go here instead of OnConvertValue.
  TConvertWideValueEvent OnConvertWideValue;
  TLossyNameEvent OnLossyName;     // optional
  std::function<void()> OnNotJson; // optional: the text is not JSON, so nothing is flattened
  TRuleMetEvent OnRuleMet;         // optional
};

// The all-empty record callers start from.
inline const TParserOptions kDefaultParserOptions{};

// Parses and flattens one block. Returns the values of the last flattened object, or nullptr
// when that holds nothing (OnNotJson tells a text that is not JSON from a document that gives
// no values). `rules` may be null or empty: every member, default typing.
std::unique_ptr<TorvParamsList>
FlattenJsonText(std::string_view text, const TParserOptions& options, const TParserItemList* rules);
// As above, into `rows` (emptied first): true when the last flattened object gave values, which
// `rows` then holds.
bool FlattenJsonText(std::string_view text, const TParserOptions& options,
                     const TParserItemList* rules, TorvParamsList& rows);

// The value of the first member named `name` (8-bit, exact), depth first in document order.
const TJsonBase* FindStartNode(const TJsonBase* node, std::string_view name);

// Emits the values of one object level, then of its nested objects; returns how many. A rule
// whose name starts with "/" names a member by its path from this level ("/site/temp") and wins
// over a rule naming the member alone.
int FlattenObject(const TJsonBase* node, int level, const std::string& prefix,
                  const TParserItemList* rules, const TParserOptions& options,
                  TorvParamsList& list);

// The first rule of kind 0 or `kind` whose name equals the member name lower-cased.
const TParserItem* FindParserItem(const TParserItemList* rules, platform::WideStringView name,
                                  uint8_t kind);

// The value of a node: through the rule's conversion when there is a rule, else typed by
// default (whole numbers in range as 32-bit integers, ISO dates and times as date-times,
// objects and arrays inside arrays as their compact JSON text). The conversion receives an
// object or array inside an array as that text too.
Variant ConvertJsonValue(const TJsonBase* node, const TParserItem* rule,
                         const TParserOptions& options);

// Reads "YYYY-MM-DD", "hh:mm:ss" or both (joined by "T" or a blank) with optional fraction
// digits; returns days since 30 December 1899 with the time as the fraction.
std::optional<double> TryIsoDateTime(std::string_view text);

} // namespace kestrel::json::JsonToList
