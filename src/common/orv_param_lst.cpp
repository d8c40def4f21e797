#include "common/orv_param_lst.h"

#include "common/ascii_text.h"
#include "common/assertion.h"
#include "common/live_lists.h"
#include "common/recycled_blocks.h"
#include "platform/system.h"
#include "platform/text.h"

#include <cstring>
#include <iterator>
#include <stdexcept>

namespace kestrel {

namespace {

bool IsBlank(std::string_view name) {
  for (char c : name)
    if (static_cast<unsigned char>(c) > 32)
      return false;
  return true;
}

// Slots reserved when the first item is added.
constexpr std::size_t kFirstCapacity = 16;

void Check(HRESULT hr, const char* what) {
  if (hr != S_OK)
    throw std::runtime_error(std::string(what) + " failed with HRESULT " + std::to_string(hr));
}

} // namespace

namespace {

// Folds `key`, a copy of `name`, into the key of `name`.
void FoldKey(std::string& key, std::string_view name) {
  // ASCII is the same in every ANSI code page, and its letters fold the same under every
  // locale's rules, so a name of ASCII only is folded here, without the code page's tables.
  if (!AsciiLowerCopy(key.data(), key.data(), key.size()))
    key = platform::AnsiLowerCase(name);
}

} // namespace

std::string ParamKey(std::string_view name) {
  std::string key(name);
  FoldKey(key, name);
  return key;
}

// ---- TorvParamsListItem ------------------------------------------------------------------

TorvParamsListItem::TorvParamsListItem(std::string name, Variant value)
    : Name(std::move(name)), Key(RecycledCopy(Name)), State(value.IsEmptyOrNull() ? 0 : 2),
      Value(std::move(value)) {
  FoldKey(Key, Name);
}

TorvParamsListItem::~TorvParamsListItem() {
  RecycleStrings(Name, Key);
}

void* TorvParamsListItem::operator new(std::size_t size) {
  return TakeRecycledBlock(size);
}

void TorvParamsListItem::operator delete(void* block, std::size_t size) noexcept {
  RecycleBlock(block, size);
}

void TorvParamsListItem::Assign(const TorvParamsListItem& source) {
  Name = source.Name;
  Key = source.Key;
  DataType = source.DataType;
  State = source.State;
}

std::unique_ptr<TorvParamsListItem> CreateParamsListItem(std::string name, Variant value) {
  return std::make_unique<TorvParamsListItem>(std::move(name), std::move(value));
}

// ---- TorvParamsList ------------------------------------------------------------------------

TorvParamsList::TorvParamsList() : signature_(kListSignature) {
  if (live_lists::Listing()) {
    live_lists::Enter(this);
    listed_ = true;
  }
}

const std::string& TorvParamsList::InstanceId() const {
  std::call_once(instance_id_once_,
                 [this] { instance_id_ = platform::GuidToText(platform::CreateGuid()); });
  return instance_id_;
}

TorvParamsList::~TorvParamsList() {
  // A stale pointer to this list must fail the signature check from here on.
  signature_ = 0;
  if (listed_)
    live_lists::Leave(this);
  items_.clear();
}

namespace {

#if defined(__clang__) || defined(__GNUC__)
#define KESTREL_NO_SANITIZE_ADDRESS __attribute__((no_sanitize("address")))
#else
#define KESTREL_NO_SANITIZE_ADDRESS
#endif

// The host may hand over either a list object or a variable holding an interface pointer;
// only the signature word tells them apart, so for a variable this reads past its end. The
// caller has made sure the bytes are readable; the sanitizer is told the read is intended.
KESTREL_NO_SANITIZE_ADDRESS uint32_t ReadWord(const void* address) noexcept {
  const volatile unsigned char* bytes = static_cast<const volatile unsigned char*>(address);
  uint32_t word = 0;
  for (std::size_t i = 0; i < sizeof(word); ++i)
    word |= static_cast<uint32_t>(bytes[i]) << (8 * i);
  return word;
}

} // namespace

bool TorvParamsList::HasValidSignature(const void* object) noexcept {
  if (!object)
    return false;
  // A live list of this library needs no probe: its bytes are readable.
  if (!live_lists::Contains(object) &&
      !platform::IsReadableMemory(object, kSignatureOffset + sizeof(uint32_t)))
    return false;
  return HasSignatureWord(object);
}

bool TorvParamsList::HasSignatureWord(const void* readable_object) noexcept {
  return ReadWord(static_cast<const char*>(readable_object) + kSignatureOffset) == kListSignature;
}

void TorvParamsList::AssertSignature() const {
  KESTREL_ASSERT(signature_ == kListSignature, "Invalid parameter list");
}

TorvParamsListItem* TorvParamsList::Items(int index) const {
  if (index < 0 || index >= Count())
    return nullptr;
  return items_[static_cast<std::size_t>(index)].get();
}

void TorvParamsList::PutItem(int index, std::unique_ptr<TorvParamsListItem> item) {
  KESTREL_ASSERT(index >= 0 && index < Count(), "List index out of bounds");
  items_[static_cast<std::size_t>(index)] = std::move(item);
}

TorvParamsListItem*
TorvParamsList::Emplace(std::vector<std::unique_ptr<TorvParamsListItem>>::iterator where,
                        std::string_view name, Variant value) {
  if (IsBlank(name))
    return nullptr;
  auto item = ItemClass(RecycledCopy(name), std::move(value));
  item->State = kItemStateAssigned;
  TorvParamsListItem* added = item.get();
  if (items_.capacity() == 0) {
    // A result row holds a dozen items or more: one allocation instead of a doubling series
    // (1, 2, 4, 8, 16) for every row of every block.
    const auto offset = where - items_.begin();
    items_.reserve(kFirstCapacity);
    where = items_.begin() + offset;
  }
  items_.insert(where, std::move(item));
  return added;
}

TorvParamsListItem* TorvParamsList::Add(std::string_view name, const Variant& value) {
  if (IsBlank(name))
    return nullptr; // before the value is copied
  return Emplace(items_.end(), name, value);
}

TorvParamsListItem* TorvParamsList::Add(std::string_view name, Variant&& value) {
  return Emplace(items_.end(), name, std::move(value));
}

TorvParamsListItem* TorvParamsList::Insert(int index, std::string_view name, const Variant& value) {
  KESTREL_ASSERT(index >= 0 && index <= Count(), "List index out of bounds");
  return Emplace(items_.begin() + index, name, value);
}

void TorvParamsList::Delete(int index) {
  KESTREL_ASSERT(index >= 0, "List index out of bounds");
  if (index >= Count())
    return;
  items_.erase(items_.begin() + index);
}

void TorvParamsList::Clear() {
  items_.clear();
}

void TorvParamsList::ClampRange(int& start, int& stop) const {
  if (start < 0)
    start = 0;
  if (stop < 0 || stop >= Count())
    stop = Count() - 1;
}

int TorvParamsList::IndexOf(std::string_view name, int start, int stop) const {
  AssertSignature();
  if (items_.empty())
    return -1;
  const bool row_only = stop == kStopAtRowEnd;
  ClampRange(start, stop);
  const std::string key = ParamKey(name);
  for (int i = start; i <= stop; ++i) {
    const TorvParamsListItem& item = *items_[static_cast<std::size_t>(i)];
    if (item.Key == key)
      return i;
    if (row_only && item.IsRowMarker())
      break;
  }
  return -1;
}

TorvParamsListItem* TorvParamsList::Find(std::string_view name, int start, int stop) const {
  return Items(IndexOf(name, start, stop));
}

Variant TorvParamsList::GetValue(std::string_view name, int start, int stop) const {
  const TorvParamsListItem* item = Find(name, start, stop);
  return item ? item->Value : Variant();
}

Variant TorvParamsList::GetValueDef(std::string_view name, const Variant& fallback, int start,
                                    int stop) const {
  const TorvParamsListItem* item = Find(name, start, stop);
  return item ? item->Value : fallback;
}

TorvParamsListItem* TorvParamsList::SetValue(std::string_view name, const Variant& value,
                                             bool add_if_missing) {
  TorvParamsListItem* item = Find(name);
  if (!item && add_if_missing)
    item = Add(name, Variant::Null());
  if (!item)
    return nullptr;
  item->Value = value;
  return item;
}

Variant TorvParamsList::GetValueStrict(std::string_view name) const {
  const TorvParamsListItem* item = Find(name);
  KESTREL_ASSERT(item, "Parameter is not defined");
  return item->Value;
}

TorvParamsListItem* TorvParamsList::SetValueStrict(std::string_view name, const Variant& value) {
  TorvParamsListItem* item = Find(name);
  KESTREL_ASSERT(item, "Parameter is not defined");
  item->Value = value;
  return item;
}

TorvParamsListItem* TorvParamsList::AddCopy(const TorvParamsListItem* item) {
  if (!item)
    return nullptr;
  TorvParamsListItem* added = Add(item->Name, item->Value);
  if (added)
    added->Assign(*item);
  return added;
}

TorvParamsListItem* TorvParamsList::AddFromItem(IorvParamsListItemA* item) {
  if (!item)
    return nullptr;
  const char* name = item->lpVtbl->GetName(item);
  VARIANT raw;
  std::memset(&raw, 0, sizeof(raw));
  Check(item->lpVtbl->GetValue(item, &raw), "Reading an item value");
  auto added = ItemClass(name ? name : "", Variant::Adopt(raw));
  const char* key = item->lpVtbl->GetKeyText(item);
  added->Key = key ? key : "";
  added->DataType = item->lpVtbl->GetDataType(item);
  added->State = item->lpVtbl->GetState(item);
  items_.push_back(std::move(added));
  return items_.back().get();
}

bool TorvParamsList::AppendList(const TorvParamsList* source) {
  if (!source || source->Count() == 0)
    return false;
  source->AssertSignature();
  // Copy by index: the source may be this list, which grows meanwhile.
  const int count = source->Count();
  for (int i = 0; i < count; ++i)
    AddCopy(source->Items(i));
  return true;
}

bool TorvParamsList::AppendRange(const TorvParamsList* source, int from, int to) {
  if (!source || source->Count() == 0)
    return false;
  source->AssertSignature();
  source->ClampRange(from, to);
  for (int i = from; i <= to; ++i)
    AddCopy(source->Items(i));
  return true;
}

bool TorvParamsList::FindRowEnd(int start, int& index, bool& is_marker) const {
  if (start < 0)
    start = 0;
  if (start >= Count())
    return false;
  int i = start;
  while (i < Count() - 1 && !items_[static_cast<std::size_t>(i)]->IsRowMarker())
    ++i;
  index = i;
  is_marker = items_[static_cast<std::size_t>(i)]->IsRowMarker();
  return true;
}

void TorvParamsList::AddNewRow() {
  if (!items_.empty() && items_.back()->IsRowMarker())
    return;
  TorvParamsListItem* marker = Add(kRowMarkerName, Variant::Null());
  marker->DataType = kRowMarkerType;
}

void TorvParamsList::AppendRow(const TorvParamsList* source) {
  const bool closed =
      source && source->Count() > 0 && source->Items(source->Count() - 1)->IsRowMarker();
  AppendList(source);
  if (!closed)
    AddNewRow();
}

void TorvParamsList::TakeList(TorvParamsList& source) {
  if (&source == this || source.items_.empty())
    return;
  source.AssertSignature();
  if (source.ItemClass != ItemClass) {
    AppendList(&source);
    source.Clear();
    return;
  }
  if (items_.empty()) {
    items_.swap(source.items_);
    return;
  }
  // Inserted as a range, so the vector grows geometrically while a host list collects many
  // rows; reserving the exact size each time would reallocate it on every call.
  items_.insert(items_.end(), std::make_move_iterator(source.items_.begin()),
                std::make_move_iterator(source.items_.end()));
  source.items_.clear();
}

void TorvParamsList::TakeRow(TorvParamsList& source) {
  TakeList(source);
  AddNewRow();
}

// ---- TParsedDataList -----------------------------------------------------------------------

void TParsedDataList::AppendRaw(std::string_view text) {
  if (RawText.empty()) {
    RawText = text;
  } else {
    RawText += kRawTextJoiner;
    RawText += text;
  }
}

void TParsedDataList::Clear() {
  TorvParamsList::Clear();
  RawText.clear();
}

// ---- TorvThreadParamsList ------------------------------------------------------------------

TorvThreadParamsList::TorvThreadParamsList() : list_(std::make_unique<TorvParamsList>()) {}

TorvThreadParamsList::~TorvThreadParamsList() = default;

TorvParamsList& TorvThreadParamsList::LockRead() {
  TThreadObject::LockRead();
  return *list_;
}

void TorvThreadParamsList::UnlockRead() {
  TThreadObject::UnlockRead();
}

TorvParamsList& TorvThreadParamsList::LockWrite() {
  TThreadObject::LockWrite();
  return *list_;
}

void TorvThreadParamsList::UnlockWrite() {
  TThreadObject::UnlockWrite();
}

} // namespace kestrel
