#include "json/json_to_list.h"
#include "common/ole_date.h"
#include "json/json_large_number.h"
#include "json/json_number_text.h"
#include "json/json_utf8.h"

#include "platform/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <span>
#include <typeinfo>

namespace kestrel::json::JsonToList {

namespace {

// Nodes tell their class without a virtual call or a cast.
const TJsonMember* AsMember(const TJsonBase* node) {
  return node && node->IsMember() ? static_cast<const TJsonMember*>(node) : nullptr;
}
bool IsObject(const TJsonBase* node) {
  return node && node->StoredKind() == jsObject;
}
bool IsList(const TJsonBase* node) {
  return node && node->StoredKind() == jsList;
}
// The children of a list or object in order; none for any other node.
std::span<const TJsonPtr> ChildrenOf(const TJsonBase* node) {
  if (!node || !node->IsContainer())
    return {};
  return static_cast<const TJsonCustomList*>(node)->Children();
}

// Whether the 8-bit form of a text that is not all ASCII still holds every character.
bool NarrowedWhole(platform::WideStringView text, std::string_view narrow) {
  const platform::WideString back = platform::AnsiToWide(narrow);
  return platform::WideStringView(back) == text;
}

// UTF-16 text as 8-bit text in the system code page, and with `whole` whether that holds every
// character. ASCII is the same in every ANSI code page, so the common case needs no code-page
// conversion and no check.
std::string Narrow(platform::WideStringView text, bool* whole = nullptr) {
  std::string out(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] >= 0x80) {
      out = platform::WideToAnsi(text);
      if (whole)
        *whole = NarrowedWhole(text, out);
      return out;
    }
    out[i] = static_cast<char>(text[i]);
  }
  if (whole)
    *whole = true;
  return out;
}

// Member names are UTF-16 in the document and 8-bit text outside it.
std::string AnsiName(const TJsonMember& member) {
  return Narrow(member.Name());
}

// Appends the 8-bit form of a member name to `out`; ASCII goes across unit by unit. A name
// the code page cannot hold is reported.
void AppendNarrow(std::string& out, platform::WideStringView text, const TParserOptions& options) {
  const size_t start = out.size();
  out.resize(start + text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] >= 0x80) {
      out.resize(start);
      const std::string narrow = platform::WideToAnsi(text);
      if (options.OnLossyName && !NarrowedWhole(text, narrow))
        options.OnLossyName(text, narrow);
      out += narrow;
      return;
    }
    out[start + i] = static_cast<char>(text[i]);
  }
}

// The emitted name of a member under a prefix, into a buffer the caller keeps for all the
// values of a level.
void WriteValueName(std::string& out, const std::string& prefix, platform::WideStringView name,
                    const TParserOptions& options) {
  out.clear();
  if (options.AddNodeName) {
    out += prefix;
    if (!prefix.empty() && options.Separator != 0)
      out += options.Separator;
  }
  AppendNarrow(out, name, options);
  if (options.UpperCase)
    for (char& c : out)
      if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
}

// The text a number beyond the double range was read from; none for any other node.
const std::string* LargeNumberText(const TJsonBase* node) {
  if (!node || node->Kind() != jsNumber ||
      !TJsonLargeNumber::BeyondDouble(static_cast<const TJsonNumber*>(node)->Value()))
    return nullptr;
  const auto* large = dynamic_cast<const TJsonLargeNumber*>(node);
  return large ? &large->Text() : nullptr;
}

Variant MakeArray(const TJsonBase& list, const TParserItem* rule, const TParserOptions& options) {
  const int32_t count = list.ItemCount();
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = VT_ARRAY | VT_VARIANT;
  raw.parray = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<uint32_t>(count));
  if (!raw.parray)
    throw std::bad_alloc();
  Variant array = Variant::Adopt(raw);
  // The elements move into the array's own slots, which start out Empty; a copy of each would
  // cost a second allocation for every text.
  void* data = nullptr;
  if (SafeArrayAccessData(array.Raw().parray, &data) != S_OK)
    throw std::runtime_error("Cannot store an array element");
  struct Access {
    SAFEARRAY* array;
    ~Access() { SafeArrayUnaccessData(array); }
  } access{array.Raw().parray};
  auto* const slots = static_cast<VARIANT*>(data);
  for (int32_t i = 0; i < count; ++i)
    slots[i] = ConvertJsonValue(list.GetItem(i), rule, options).Detach();
  return array;
}

// False for text TryIsoDateTime surely rejects: it needs its separators at these places, and the
// characters before them are ASCII digits, which keep their places in every code page.
bool MayBeIsoDateTime(platform::WideStringView w) {
  const std::size_t n = w.size();
  return (n >= 10 && w[4] == '-' && w[7] == '-') || (n >= 8 && w[2] == ':' && w[5] == ':') ||
         (n >= 9 && (w[0] == ' ' || w[0] == 'T') && w[3] == ':' && w[6] == ':');
}

// Whole decimal number of exactly the given characters; `fallback` when it is not one.
int FieldValue(std::string_view field, int fallback) {
  if (!field.empty() && field.front() == '+')
    field.remove_prefix(1);
  int value = 0;
  const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
  return ec == std::errc() && end == field.data() + field.size() && !field.empty() ? value
                                                                                   : fallback;
}

} // namespace

const TParserItem* FindParserItem(const TParserItemList* rules, platform::WideStringView name,
                                  uint8_t kind) {
  if (!rules || rules->empty())
    return nullptr;
  const std::string key = platform::AnsiLowerCase(Narrow(name));
  for (const TParserItem& rule : *rules)
    if ((rule.Kind == TParserItem::kAnyMember || rule.Kind == kind) && rule.Name == key)
      return &rule;
  return nullptr;
}

Variant ConvertJsonValue(const TJsonBase* node, const TParserItem* rule,
                         const TParserOptions& options) {
  // A number no double can hold is delivered as written, never as an infinity.
  const std::string* large = LargeNumberText(node);
  if (large && !rule) {
    if (options.OnNumberAsText)
      options.OnNumberAsText(*large);
    return Variant(*large);
  }

  VARIANT raw;
  VariantInit(&raw);
  if (node)
    node->GetVariant(raw);
  else
    raw.vt = VT_NULL;
  Variant value = Variant::Adopt(raw);

  if (rule) {
    std::string text;
    bool lossy = false; // the 8-bit text lost characters of the document's
    switch (value.Type()) {
    case VT_R8:
      // From the node's own value, which holds digits that a double drops.
      text = large ? *large : NumberText(static_cast<const TJsonNumber*>(node)->Value());
      break;
    case VT_BSTR: {
      const platform::WideStringView wide(value.Raw().bstrVal, SysStringLen(value.Raw().bstrVal));
      bool whole = true;
      text = Narrow(wide, &whole);
      lossy = !whole;
      if (lossy && options.OnConvertWideValue) {
        Variant converted;
        if (options.OnConvertWideValue(*rule, wide, text, converted))
          return converted;
        return value;
      }
      break;
    }
    case VT_BOOL:
      text = value.Raw().boolVal ? "True" : "False";
      break;
    default:
      // An object or array inside an array is handed over as its compact JSON text; null is
      // the empty text.
      if (IsObject(node) || IsList(node))
        text = Narrow(TJson::SerializeWide(node));
      break;
    }
    if (!options.OnConvertValue)
      return Variant(); // a value with a rule but nobody to convert it stays unassigned
    Variant converted;
    if (options.OnConvertValue(*rule, text, converted))
      return converted;
    return lossy ? value : Variant(text); // a kept text keeps every character it had
  }

  switch (value.Type()) {
  case VT_NULL:
    // An object or array inside an array is kept as its compact JSON text, written straight
    // as UTF-16: the text keeps every code unit, lone surrogate halves included.
    if (IsObject(node) || IsList(node))
      return Variant(platform::WideStringView(TJson::SerializeWide(node)));
    return value;
  case VT_R8: {
    const double number = value.Raw().dblVal;
    if (number == std::trunc(number) && number > -2147483647.0 && number < 2147483647.0)
      return Variant(static_cast<int32_t>(number));
    return value;
  }
  case VT_BSTR: {
    const platform::WideStringView wide(value.Raw().bstrVal, SysStringLen(value.Raw().bstrVal));
    if (!MayBeIsoDateTime(wide))
      return value; // most texts: no 8-bit copy just to be told apart from a date
    if (const auto when = TryIsoDateTime(Narrow(wide)))
      return Variant::DateTime(*when);
    return value;
  }
  default:
    return value;
  }
}

std::optional<double> TryIsoDateTime(std::string_view s) {
  double date = 0; // the date part defaults to the epoch: a pure time of day
  if (s.size() >= 10 && s[4] == '-' && s[7] == '-') {
    const int year = FieldValue(s.substr(0, 4), 0);
    const int month = FieldValue(s.substr(5, 2), 0);
    const int day = FieldValue(s.substr(8, 2), 0);
    if (month < 1 || month > 12 || day < 1 || day > 31 || !IsValidCivilDate(year, month, day))
      return std::nullopt;
    date = OleDateFromCivil(year, month, day);
    s.remove_prefix(10);
    if (s.empty())
      return date;
  }

  if (!s.empty() && (s.front() == ' ' || s.front() == 'T'))
    s.remove_prefix(1);
  if (s.size() < 8 || s[2] != ':' || s[5] != ':')
    return std::nullopt;
  const int hour = FieldValue(s.substr(0, 2), 99);
  const int minute = FieldValue(s.substr(3, 2), 99);
  const int second = FieldValue(s.substr(6, 2), 99);
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
    return std::nullopt;
  s.remove_prefix(8);

  // Fraction digits are a decimal fraction of a second, read to the millisecond: ".5" is
  // 500 ms, ".25" 250 ms, ".123456" 123 ms. Whatever follows (a zone) is ignored.
  int milliseconds = 0;
  if (!s.empty() && (s.front() == '.' || s.front() == 'Z')) {
    s.remove_prefix(1);
    int scale = 100;
    for (size_t i = 0; i < 3 && i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
      milliseconds += (s[i] - '0') * scale;
      scale /= 10;
    }
  }

  const double time =
      (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + milliseconds) / 86400000.0;
  // Before the epoch the fraction still counts forward from midnight of that day.
  return date < 0 ? date - time : date + time;
}

const TJsonBase* FindStartNode(const TJsonBase* node, std::string_view name) {
  if (!node)
    return nullptr;
  const int32_t count = node->ItemCount();
  for (int32_t i = 0; i < count; ++i) {
    const TJsonBase* child = node->GetItem(i);
    if (!child)
      continue;
    if (const TJsonMember* member = AsMember(child)) {
      if (AnsiName(*member) == name)
        return member->Value();
      if (const TJsonBase* found = FindStartNode(member->Value(), name))
        return found;
    } else if (child->ItemCount() > 0) {
      if (const TJsonBase* found = FindStartNode(child, name))
        return found;
    }
  }
  return nullptr;
}

namespace {

// Whether any rule names a member by its path.
bool HasPathRules(const TParserItemList* rules) {
  if (!rules)
    return false;
  return std::any_of(rules->begin(), rules->end(),
                     [](const TParserItem& rule) { return rule.Name.starts_with('/'); });
}

// The path of a member below a level's path: the level's path, "/" and the member's name,
// lower-cased as rule names are.
std::string MemberPath(const std::string& level_path, platform::WideStringView name) {
  return level_path + "/" + platform::AnsiLowerCase(Narrow(name));
}

// The rule for a member: one naming its path wins over one naming the member alone. Without
// path rules (`level_path` null) the path is never built.
inline const TParserItem* FindMemberRule(const TParserItemList* rules,
                                         const std::string* level_path,
                                         platform::WideStringView name, uint8_t kind) {
  if (!rules || rules->empty())
    return nullptr;
  if (level_path) {
    const std::string path = MemberPath(*level_path, name);
    for (const TParserItem& rule : *rules)
      if ((rule.Kind == TParserItem::kAnyMember || rule.Kind == kind) && rule.Name == path)
        return &rule;
  }
  return FindParserItem(rules, name, kind);
}

// Whether a member's value is an array that "Expand arrays" flattens element by element: at
// least one element, and every one an object. Other arrays stay one array value.
bool IsObjectArray(const TJsonBase* value) {
  if (!IsList(value) || value->ItemCount() == 0)
    return false;
  for (int32_t i = 0; i < value->ItemCount(); ++i)
    if (!IsObject(value->GetItem(i)))
      return false;
  return true;
}

int FlattenLevel(const TJsonBase* node, int level, const std::string& prefix,
                 const std::string* level_path, const TParserItemList* rules,
                 const TParserOptions& options, TorvParamsList& list) {
  if (!node)
    return 0;
  const std::span<const TJsonPtr> children = ChildrenOf(node);
  int emitted = 0;
  bool has_objects = false;
  std::string name; // the emitted name of each value in turn
  // Nested levels are flattened only above the depth limit; there an array of objects stays
  // one array value, as it is without "Expand arrays".
  const bool descends = options.MaxDepth <= 0 || level < options.MaxDepth;
  // An array of objects with a rule of its own keeps being typed by that rule as one value.
  const auto expands = [&](const TJsonBase* value, const TParserItem* rule) {
    return options.ExpandArrays && descends && !rule && IsObjectArray(value);
  };

  // First pass: the values of this level.
  for (const TJsonPtr& child : children) {
    const TJsonMember* member = AsMember(child.get());
    if (!member || !member->Value())
      continue;
    const TJsonBase* value = member->Value();
    if (IsObject(value)) {
      has_objects = true;
      continue;
    }
    const TParserItem* rule =
        FindMemberRule(rules, level_path, member->Name(), TParserItem::kValueMember);
    if (rule && rule->Include != 1) {
      if (options.OnRuleMet)
        options.OnRuleMet(*rule);
      continue;
    }
    if (expands(value, rule)) {
      has_objects = true;
      continue;
    }
    Variant converted =
        IsList(value) ? MakeArray(*value, rule, options) : ConvertJsonValue(value, rule, options);
    WriteValueName(name, prefix, member->Name(), options);
    list.Add(name, std::move(converted));
    ++emitted;
  }

  // Second pass: nested objects (and the elements of arrays of objects), below the depth limit.
  if (!has_objects || !descends)
    return emitted;
  for (const TJsonPtr& child : children) {
    const TJsonMember* member = AsMember(child.get());
    if (!member || !member->Value())
      continue;
    const TJsonBase* value = member->Value();
    const bool object = IsObject(value);
    if (!object && !(options.ExpandArrays && IsList(value)))
      continue;
    const TParserItem* rule =
        FindMemberRule(rules, level_path, member->Name(),
                       object ? TParserItem::kObjectMember : TParserItem::kValueMember);
    if (object && rule && options.OnRuleMet)
      options.OnRuleMet(*rule);
    if (object ? rule && rule->Include != 1 : !expands(value, rule))
      continue;
    std::string nested_prefix = prefix;
    if (!nested_prefix.empty() && options.Separator != 0)
      nested_prefix += options.Separator;
    AppendNarrow(nested_prefix, member->Name(), options);
    std::string nested_path;
    if (level_path)
      nested_path = MemberPath(*level_path, member->Name());
    const std::string* path = level_path ? &nested_path : nullptr;
    if (object) {
      if (value->ItemCount() > 0) // an empty object has nothing to flatten
        emitted += FlattenLevel(value, level + 1, nested_prefix, path, rules, options, list);
      continue;
    }
    // Each element is a level of its own, named by its index: readings_0_t, readings_1_t.
    for (int32_t k = 0; k < value->ItemCount(); ++k) {
      const TJsonBase* element = value->GetItem(k);
      if (element->ItemCount() == 0)
        continue;
      std::string element_prefix = nested_prefix;
      if (options.Separator != 0)
        element_prefix += options.Separator;
      element_prefix += std::to_string(k);
      const std::string element_path = nested_path + "/" + std::to_string(k);
      emitted += FlattenLevel(element, level + 1, element_prefix, path ? &element_path : nullptr,
                              rules, options, list);
    }
  }
  return emitted;
}

} // namespace

int FlattenObject(const TJsonBase* node, int level, const std::string& prefix,
                  const TParserItemList* rules, const TParserOptions& options,
                  TorvParamsList& list) {
  static const std::string kTop;
  return FlattenLevel(node, level, prefix, HasPathRules(rules) ? &kTop : nullptr, rules, options,
                      list);
}

std::unique_ptr<TorvParamsList> FlattenJsonText(std::string_view text,
                                                const TParserOptions& options,
                                                const TParserItemList* rules) {
  auto list = std::make_unique<TorvParamsList>();
  if (!FlattenJsonText(text, options, rules, *list))
    return nullptr;
  return list;
}

bool FlattenJsonText(std::string_view text, const TParserOptions& options,
                     const TParserItemList* rules, TorvParamsList& rows) {
  rows.Clear();
  TorvParamsList* const list = &rows;
  const TJsonPtr document = TJson::Parse(text); // freed on every way out, errors included
  const TJsonBase* node = document.get();
  if (!node && options.OnNotJson)
    options.OnNotJson();
  if (node && !options.StartNodeName.empty())
    node = FindStartNode(node, options.StartNodeName);

  // Paths are built only when a rule names one.
  static const std::string kTop;
  const std::string* top = HasPathRules(rules) ? &kTop : nullptr;
  auto flatten = [&](const TJsonBase* element, int index) {
    if (FlattenLevel(element, 1, options.TopPrefix, top, rules, options, *list) > 0 &&
        options.OnObjectDone)
      options.OnObjectDone(index, *list, options);
  };
  if (IsList(node)) {
    const int32_t count = node->ItemCount();
    for (int32_t i = 0; i < count; ++i) {
      list->Clear();
      flatten(node->GetItem(i), i);
    }
  } else if (node) {
    flatten(node, 0);
  }

  return list->Count() > 0;
}

} // namespace kestrel::json::JsonToList
