#include "json/json_document.h"
#include "json/json_arena.h"
#include "json/json_number_text.h"

#include "platform/text.h"

#include <charconv>
#include <cmath>
#include <mutex>
#include <string>

namespace kestrel::json {

namespace {

[[noreturn]] void InvalidVariant() {
  throw EInvalidCast("Invalid variant type conversion");
}
[[noreturn]] void InvalidClass() {
  throw EInvalidCast("Invalid class typecast");
}

bool ParseDecimal(std::string_view text, double& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  while (first < last && static_cast<unsigned char>(*first) <= ' ')
    ++first;
  while (last > first && static_cast<unsigned char>(last[-1]) <= ' ')
    --last;
  if (first < last && *first == '+')
    ++first;
  const auto [end, ec] = std::from_chars(first, last, value);
  return ec == std::errc() && end == last && first != last;
}

std::string NarrowAscii(const VARIANT& v) {
  std::string text;
  const uint32_t length = SysStringLen(v.bstrVal);
  text.reserve(length);
  for (uint32_t i = 0; i < length; ++i)
    text.push_back(v.bstrVal[i] < 0x80 ? static_cast<char>(v.bstrVal[i]) : '?');
  return text;
}

// The document's own conversions of values handed to SetVariant and GetItemByKey: Empty is 0,
// texts convert only in plain decimal with a full stop, and what does not convert raises
// EInvalidCast. They differ from the lenient ones in common/variant_convert.h on purpose.
double NumberOfVariant(const VARIANT& v) {
  switch (v.vt) {
  case VT_EMPTY:
    return 0;
  case VT_I1:
    return v.cVal;
  case VT_UI1:
    return v.bVal;
  case VT_I2:
    return v.iVal;
  case VT_UI2:
    return v.uiVal;
  case VT_I4:
  case VT_INT:
    return v.lVal;
  case VT_UI4:
  case VT_UINT:
    return v.ulVal;
  case VT_I8:
    return static_cast<double>(v.llVal);
  case VT_UI8:
    return static_cast<double>(v.ullVal);
  case VT_R4:
    return v.fltVal;
  case VT_R8:
    return v.dblVal;
  case VT_DATE:
    return v.date;
  case VT_CY:
    return static_cast<double>(v.cyVal.int64) / 10000.0;
  case VT_DECIMAL: {
    // A 96-bit integer scaled down by a power of ten (0 to 28).
    const long double whole = v.decVal.Hi32 * 18446744073709551616.0L + v.decVal.Lo64;
    const long double value = whole / std::pow(10.0L, v.decVal.scale);
    return static_cast<double>(v.decVal.sign & 0x80 ? -value : value);
  }
  case VT_BOOL:
    return v.boolVal ? -1.0 : 0.0;
  case VT_BSTR: {
    double value = 0;
    if (!ParseDecimal(NarrowAscii(v), value))
      InvalidVariant();
    return value;
  }
  default:
    InvalidVariant();
  }
}

WideString TextOfVariant(const VARIANT& v) {
  switch (v.vt) {
  case VT_EMPTY:
    return {};
  case VT_BSTR:
    return WideString(v.bstrVal, SysStringLen(v.bstrVal));
  case VT_BOOL:
    return v.boolVal ? OLESTR("True") : OLESTR("False");
  case VT_NULL:
    InvalidVariant();
  default: {
    const std::string text = GeneralNumberText(NumberOfVariant(v));
    return WideString(text.begin(), text.end());
  }
  }
}

bool BooleanOfVariant(const VARIANT& v) {
  if (v.vt == VT_BOOL)
    return v.boolVal != 0;
  if (v.vt == VT_BSTR) {
    std::string text = NarrowAscii(v);
    for (char& c : text)
      c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    if (text == "true")
      return true;
    if (text == "false")
      return false;
  }
  return NumberOfVariant(v) != 0;
}

bool IsNumericKey(const VARIANT& key, int32_t& index) {
  switch (key.vt) {
  case VT_I1:
  case VT_UI1:
  case VT_I2:
  case VT_UI2:
  case VT_I4:
  case VT_UI4:
  case VT_INT:
  case VT_UINT:
  case VT_I8:
  case VT_UI8:
  case VT_R4:
  case VT_R8:
  case VT_CY:
  case VT_DECIMAL: {
    const double value = std::nearbyint(NumberOfVariant(key));
    if (!(value >= INT32_MIN && value <= INT32_MAX))
      return false;
    index = static_cast<int32_t>(value);
    return true;
  }
  default:
    return false;
  }
}

// Serialises what the document makes on demand from const methods (name indexes, string
// values). Each such thing is made once, so one lock for all documents is enough.
std::mutex& OnDemandLock() {
  static std::mutex lock;
  return lock;
}

} // namespace

// --- TJsonBase -----------------------------------------------------------------------------

void TJsonBase::GetVariant(VARIANT& out) const {
  VariantClear(&out);
  out.vt = VT_NULL;
}
void TJsonBase::SetVariant(const VARIANT&) {}
TJsonBase* TJsonBase::GetItem(int32_t) const {
  return nullptr;
}
void TJsonBase::SetItem(int32_t, TJsonPtr) {}
int32_t TJsonBase::ItemCount() const {
  return 0;
}
TJsonBase* TJsonBase::GetItemByKey(const VARIANT&) const {
  return nullptr;
}
TJsonKind TJsonBase::Kind() const {
  return jsBase;
}
const char* TJsonBase::KindName() const {
  return "jsBase";
}
TJsonBase::~TJsonBase() = default;

void TJsonBase::operator delete(TJsonBase* node, std::destroying_delete_t) {
  switch (node->storage_) {
  case Storage::kHeap:
    node->~TJsonBase();
    ::operator delete(static_cast<void*>(node));
    return;
  case Storage::kArena:
    node->~TJsonBase();
    return;
  case Storage::kArenaRoot: {
    // The arena holds the root itself: it goes once the whole document has been destroyed.
    // A document nothing in which holds memory of its own is all arena: no node needs a visit.
    JsonArena* const arena = static_cast<TJsonCustomList*>(node)->owned_arena_;
    if (arena->HasOwners())
      node->~TJsonBase();
    JsonArena::Destroy(arena);
    return;
  }
  }
}

// --- scalars -------------------------------------------------------------------------------

void TJsonNumber::GetVariant(VARIANT& out) const {
  VariantClear(&out);
  out.vt = VT_R8;
  out.dblVal = static_cast<double>(Value());
}
void TJsonNumber::SetVariant(const VARIANT& value) {
  SetValue(NumberOfVariant(value));
}
TJsonKind TJsonNumber::Kind() const {
  return jsNumber;
}
const char* TJsonNumber::KindName() const {
  return "jsNumber";
}

void TJsonString::GetVariant(VARIANT& out) const {
  VariantClear(&out);
  out.vt = VT_BSTR;
  const WideStringView text = Text();
  out.bstrVal = SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
}
void TJsonString::SetVariant(const VARIANT& value) {
  SetValue(TextOfVariant(value));
}
TJsonString::TJsonString(WideString value)
    : TJsonBase(jsString), value_(value.empty() ? nullptr : new WideString(std::move(value))) {}

TJsonString::~TJsonString() {
  if (!in_arena_.load(std::memory_order_relaxed))
    delete value_;
}

const WideString& TJsonString::Value() const {
  static const WideString kEmpty;
  if (in_arena_.load(std::memory_order_acquire)) {
    const std::lock_guard<std::mutex> guard(OnDemandLock());
    if (in_arena_.load(std::memory_order_relaxed)) {
      auto* const made =
          arena_length_ ? new WideString(arena_text_, arena_length_) : new WideString();
      arena_->NoteOwner();
      value_ = made;
      in_arena_.store(false, std::memory_order_release);
    }
  }
  return value_ ? *value_ : kEmpty;
}
WideString& TJsonString::MutableValue() {
  Value();
  if (!value_)
    value_ = new WideString();
  return *value_;
}
void TJsonString::SetValue(WideString value) {
  MutableValue() = std::move(value);
}
TJsonKind TJsonString::Kind() const {
  return jsString;
}
const char* TJsonString::KindName() const {
  return "jsString";
}

void TJsonBoolean::GetVariant(VARIANT& out) const {
  VariantClear(&out);
  out.vt = VT_BOOL;
  out.boolVal = value_ ? VARIANT_TRUE : VARIANT_FALSE;
}
void TJsonBoolean::SetVariant(const VARIANT& value) {
  value_ = BooleanOfVariant(value);
}
TJsonKind TJsonBoolean::Kind() const {
  return jsBoolean;
}
const char* TJsonBoolean::KindName() const {
  return "jsBoolean";
}

TJsonKind TJsonNull::Kind() const {
  return jsNull;
}
const char* TJsonNull::KindName() const {
  return "jsNull";
}

// --- members -------------------------------------------------------------------------------

TJsonMember::TJsonMember(WideString name, TJsonPtr value)
    : TJsonBase(kMemberTag), owned_name_(true), value_(std::move(value)) {
  name_.owned = new WideString(std::move(name));
}

TJsonMember::~TJsonMember() {
  if (owned_name_)
    delete name_.owned;
}

WideString& TJsonMember::MutableName() {
  if (object_)
    object_->LinkedIndex();
  if (!owned_name_) {
    auto* const made = name_length_ ? new WideString(name_.text, name_length_) : new WideString();
    NoteChange();
    name_.owned = made;
    owned_name_ = true;
  }
  return *name_.owned;
}

void TJsonMember::NoteChange() const {
  if (!InArena() || !object_)
    return;
  if (JsonArena* const arena = object_->ArenaToNote())
    arena->NoteOwner();
}

// --- lists ---------------------------------------------------------------------------------

TJsonCustomList::~TJsonCustomList() {
  // Children go from the last to the first.
  while (!children_.empty())
    children_.pop_back();
}

JsonArena* TJsonCustomList::ArenaToNote() const {
  if (!InArena())
    return nullptr;
  // Lists read into an arena take their child lists' memory from it.
  auto* const arena =
      owned_arena_ ? owned_arena_ : static_cast<JsonArena*>(children_.get_allocator().resource());
  return arena->Sealed() ? arena : nullptr;
}

TJsonBase* TJsonCustomList::GetItem(int32_t index) const {
  return InRange(index) ? children_[static_cast<size_t>(index)].get() : nullptr;
}

void TJsonCustomList::SetItem(int32_t index, TJsonPtr value) {
  if (!InRange(index))
    return;
  if (JsonArena* const arena = ArenaToNote())
    arena->NoteOwner();
  children_[static_cast<size_t>(index)] = std::move(value);
}

int32_t TJsonCustomList::ItemCount() const {
  return static_cast<int32_t>(children_.size());
}

TJsonBase* TJsonCustomList::GetItemByKey(const VARIANT& key) const {
  int32_t index = 0;
  return IsNumericKey(key, index) ? GetItem(index) : nullptr;
}

TJsonBase* TJsonCustomList::GetItemAndName(int32_t index, std::string& name) const {
  name = std::to_string(index);
  return GetItem(index);
}

int32_t TJsonCustomList::AppendItem(TJsonPtr child) {
  if (!child)
    return -1;
  if (JsonArena* const arena = ArenaToNote())
    arena->NoteOwner();
  children_.push_back(std::move(child));
  return static_cast<int32_t>(children_.size() - 1);
}

void TJsonCustomList::RemoveItem(int32_t index, bool keep_order) {
  if (!InRange(index))
    return;
  const auto at = static_cast<size_t>(index);
  children_[at].reset();
  if (at + 1 == children_.size()) {
    children_.pop_back();
  } else if (keep_order) {
    children_.erase(children_.begin() + index);
  } else {
    children_[at] = std::move(children_.back());
    children_.pop_back();
  }
}

void TJsonCustomList::AdoptChildren(TJsonBase* const* first, size_t count) {
  if (JsonArena* const arena = ArenaToNote())
    arena->NoteOwner();
  children_.reserve(children_.size() + count); // one exactly sized step, as the reader needs
  for (size_t i = 0; i < count; ++i)
    children_.emplace_back(first[i]);
}

int32_t TJsonCustomList::FindItem(const TJsonBase* child) const {
  for (size_t i = 0; i < children_.size(); ++i)
    if (children_[i].get() == child)
      return static_cast<int32_t>(i);
  return -1;
}

TJsonBase* TJsonCustomList::TypedChild(int32_t index) const {
  return GetItem(index);
}

int32_t TJsonCustomList::ItemAsInteger(int32_t index) const {
  const TJsonBase* child = TypedChild(index);
  if (!child)
    return 0;
  const auto* number = dynamic_cast<const TJsonNumber*>(child);
  if (!number)
    InvalidClass();
  const long double value = std::trunc(number->Value());
  if (!(value >= INT32_MIN && value <= INT32_MAX))
    throw std::range_error("Integer overflow");
  return static_cast<int32_t>(value);
}

std::string TJsonCustomList::ItemAsString(int32_t index) const {
  const TJsonBase* child = TypedChild(index);
  if (!child)
    return {};
  const auto* text = dynamic_cast<const TJsonString*>(child);
  if (!text)
    InvalidClass();
  return platform::WideToAnsi(text->Text());
}

WideString TJsonCustomList::ItemAsWideString(int32_t index) const {
  const TJsonBase* child = TypedChild(index);
  if (!child)
    return {};
  const auto* text = dynamic_cast<const TJsonString*>(child);
  if (!text)
    InvalidClass();
  return WideString(text->Text());
}

double TJsonCustomList::ItemAsFloat(int32_t index) const {
  const TJsonBase* child = TypedChild(index);
  if (!child)
    return 0;
  const auto* number = dynamic_cast<const TJsonNumber*>(child);
  if (!number)
    InvalidClass();
  return static_cast<double>(number->Value());
}

bool TJsonCustomList::ItemAsBoolean(int32_t index) const {
  const TJsonBase* child = TypedChild(index);
  if (!child)
    return false;
  const auto* flag = dynamic_cast<const TJsonBoolean*>(child);
  if (!flag)
    InvalidClass();
  return flag->Value();
}

TJsonKind TJsonList::Kind() const {
  return jsList;
}
const char* TJsonList::KindName() const {
  return "jsList";
}

// --- objects -------------------------------------------------------------------------------

TJsonKind TJsonObject::Kind() const {
  return jsObject;
}
const char* TJsonObject::KindName() const {
  return "jsObject";
}

TJsonBase* TJsonObject::GetItemByKey(const VARIANT& key) const {
  if (key.vt == VT_BSTR)
    return ValueByName(WideStringView(key.bstrVal, SysStringLen(key.bstrVal)));
  return TJsonCustomList::GetItemByKey(key);
}

TJsonBase* TJsonObject::GetItemAndName(int32_t index, std::string& name) const {
  name = platform::WideToAnsi(NameAt(index));
  return ValueAt(index);
}

TJsonObject::~TJsonObject() = default;

int32_t TJsonObject::AppendItem(TJsonPtr child) {
  const auto* member = dynamic_cast<const TJsonMember*>(child.get());
  LinkedIndex(); // names adopted earlier come first
  const int32_t position = TJsonCustomList::AppendItem(std::move(child));
  if (position >= 0 && keep_index_ && member)
    index_->Insert(member->Name(), position);
  return position;
}

void TJsonObject::SetItem(int32_t index, TJsonPtr value) {
  LinkedIndex();
  TJsonCustomList::SetItem(index, std::move(value));
}

void TJsonObject::RemoveItem(int32_t index, bool keep_order) {
  LinkedIndex();
  TJsonCustomList::RemoveItem(index, keep_order);
}

// Only members are indexed. Members report kind jsBase, so values are ruled out cheaply.
static const TJsonMember* AsMember(const TJsonBase* child) {
  return child && child->Kind() == jsBase ? dynamic_cast<const TJsonMember*>(child) : nullptr;
}

const TJsonBalTree& TJsonObject::LinkedIndex() const {
  static const TJsonBalTree kNoIndex;
  if (unindexed_.load(std::memory_order_acquire)) {
    const std::lock_guard<std::mutex> guard(OnDemandLock());
    if (unindexed_.load(std::memory_order_relaxed)) {
      if (!index_) {
        index_ = std::make_unique<TJsonBalTree>();
        if (JsonArena* const arena = ArenaToNote())
          arena->NoteOwner();
      }
      for (size_t i = unindexed_from_; i < children_.size(); ++i)
        if (const TJsonMember* member = AsMember(children_[i].get()))
          index_->Insert(member->Name(), static_cast<int32_t>(i));
      unindexed_.store(false, std::memory_order_release);
    }
  }
  return index_ ? *index_ : kNoIndex;
}

void TJsonObject::NoteUnindexed(size_t first) {
  if (!unindexed_.load(std::memory_order_relaxed)) {
    unindexed_from_ = first;
    unindexed_.store(true, std::memory_order_release);
  }
}

void TJsonObject::AdoptChildren(TJsonBase* const* first, size_t count) {
  const size_t base = children_.size();
  TJsonCustomList::AdoptChildren(first, count);
  if (!keep_index_ || count == 0)
    return;
  for (size_t i = base; i < children_.size(); ++i)
    if (AsMember(children_[i].get()))
      static_cast<TJsonMember*>(children_[i].get())->object_ = this;
  NoteUnindexed(base);
}

void TJsonObject::AdoptMembers(TJsonBase* const* first, size_t count) {
  const size_t base = children_.size();
  TJsonCustomList::AdoptChildren(first, count);
  if (!keep_index_ || count == 0)
    return;
  for (size_t i = base; i < children_.size(); ++i)
    static_cast<TJsonMember*>(children_[i].get())->object_ = this;
  NoteUnindexed(base);
}

int32_t TJsonObject::IndexByName(WideStringView name) const {
  if (keep_index_)
    return LinkedIndex().Search(name);
  for (size_t i = 0; i < children_.size(); ++i) {
    const auto* member = dynamic_cast<const TJsonMember*>(children_[i].get());
    if (member && member->Name() == name)
      return static_cast<int32_t>(i);
  }
  return -1;
}

TJsonBase* TJsonObject::ValueByName(WideStringView name) const {
  const auto* member = dynamic_cast<const TJsonMember*>(GetItem(IndexByName(name)));
  return member ? member->Value() : nullptr;
}

WideString TJsonObject::NameAt(int32_t index) const {
  if (keep_index_) {
    WideStringView name;
    return LinkedIndex().FindPosition(index, name) ? WideString(name) : WideString();
  }
  const auto* member = dynamic_cast<const TJsonMember*>(GetItem(index));
  return member ? WideString(member->Name()) : WideString();
}

TJsonBase* TJsonObject::ValueAt(int32_t index) const {
  const WideString name = NameAt(index);
  return name.empty() ? nullptr : ValueByName(name);
}

TJsonBase* TJsonObject::TypedChild(int32_t index) const {
  return ValueAt(index);
}

} // namespace kestrel::json
