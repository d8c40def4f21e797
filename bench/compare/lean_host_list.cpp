#include "lean_host_list.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace kestrel::bench {

// A stored value. Scalars are kept as they came; a BSTR points into the arena (its 4-byte length
// prefix in front, as every BSTR has); a vector of VARIANTs keeps its elements in the arena. Any
// other array is copied to the heap (`heap`), which the plug-in never hands over.
struct LeanHostList::Value {
  VARIANT scalar;
  const Value* elements;
  uint32_t count;
  bool array;
  bool heap;
};

namespace {

constexpr std::size_t kChunk = 64 * 1024;
constexpr std::size_t kAlign = alignof(std::max_align_t);

bool SameName(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
    const char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
    if (x != y)
      return false;
    if (!x)
      return true;
  }
}

// The caller's own copy of a stored value.
HRESULT Materialize(const LeanHostList::Value& value, VARIANT* out);

} // namespace

// The interface tables' functions, with access to the list's insides.
struct LeanAccess {
  using List = LeanHostList;
  using Item = LeanHostList::Item;

  static List* Of(IorvParamsListA* self) { return reinterpret_cast<List*>(self); }
  static Item* Of(IorvParamsListItemA* self) { return reinterpret_cast<Item*>(self); }

  // ---- items ----
  static HRESULT KESTREL_CALL ItemQuery(IorvParamsListItemA*, const KestrelGuid*, void** out) {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  static uint32_t KESTREL_CALL ItemRef(IorvParamsListItemA*) { return 1; }
  static void KESTREL_CALL SetKey(IorvParamsListItemA* self, const char* key) {
    Item* item = Of(self);
    // Most keys are the name itself: shared, not copied.
    item->key = key && item->name && std::strcmp(key, item->name) == 0 ? item->name
                                                                       : Owner(item)->TakeText(key);
  }
  static void KESTREL_CALL SetType(IorvParamsListItemA* self, int32_t type) {
    Of(self)->type = type;
  }
  static void KESTREL_CALL SetState(IorvParamsListItemA* self, uint8_t state) {
    Of(self)->state = state;
  }
  static const char* KESTREL_CALL GetKey(IorvParamsListItemA* self) { return Of(self)->key; }
  static int32_t KESTREL_CALL GetType(IorvParamsListItemA* self) { return Of(self)->type; }
  static uint8_t KESTREL_CALL GetState(IorvParamsListItemA* self) { return Of(self)->state; }
  static HRESULT KESTREL_CALL SetItemValue(IorvParamsListItemA* self, const VARIANT* value) {
    Item* item = Of(self);
    item->value = Owner(item)->TakeValue(value);
    return item->value ? S_OK : E_OUTOFMEMORY;
  }
  static HRESULT KESTREL_CALL GetItemValue(IorvParamsListItemA* self, VARIANT* value) {
    VariantInit(value);
    return Of(self)->value ? Materialize(*Of(self)->value, value) : S_OK;
  }
  static void KESTREL_CALL SetName(IorvParamsListItemA* self, const char* name) {
    Of(self)->name = Owner(Of(self))->TakeText(name);
  }
  static const char* KESTREL_CALL GetName(IorvParamsListItemA* self) { return Of(self)->name; }
  static KestrelBool KESTREL_CALL IsNewRow(IorvParamsListItemA* self) {
    return Of(self)->type == KESTREL_ROW_MARKER_TYPE;
  }

  static List* Owner(Item* item) { return item->owner; }

  // ---- the list ----
  static HRESULT KESTREL_CALL Query(IorvParamsListA* self, const KestrelGuid* iid, void** out) {
    *out = nullptr;
    if (std::memcmp(iid, &IID_IorvParamsListA, sizeof(KestrelGuid)) != 0)
      return E_NOINTERFACE;
    ++Of(self)->refs_;
    *out = self;
    return S_OK;
  }
  static uint32_t KESTREL_CALL AddRef(IorvParamsListA* self) { return ++Of(self)->refs_; }
  // The list belongs to the host object that holds it; the count only guards against misuse.
  static uint32_t KESTREL_CALL Release(IorvParamsListA* self) {
    return Of(self)->refs_ > 1 ? --Of(self)->refs_ : 1;
  }
  static int32_t KESTREL_CALL Count(IorvParamsListA* self) { return Of(self)->count_; }
  static int32_t KESTREL_CALL Signature(IorvParamsListA*) { return 0; }
  static int32_t KESTREL_CALL GetTag(IorvParamsListA* self) { return Of(self)->tag_; }
  static void KESTREL_CALL SetTag(IorvParamsListA* self, int32_t tag) { Of(self)->tag_ = tag; }
  static void KESTREL_CALL Clear(IorvParamsListA* self) { Of(self)->Clear(); }
  static void KESTREL_CALL Delete(IorvParamsListA* self, int32_t index) {
    List* list = Of(self);
    if (index < 0 || index >= list->count_)
      return;
    std::memmove(&list->items_[index], &list->items_[index + 1],
                 sizeof(Item) * static_cast<std::size_t>(list->count_ - index - 1));
    --list->count_;
  }
  static KestrelBool KESTREL_CALL FindRowEnd(IorvParamsListA*, int32_t, int32_t* index,
                                             KestrelBool* marker) {
    *index = -1;
    *marker = 0;
    return 0;
  }
  static void KESTREL_CALL AddNewRow(IorvParamsListA* self) {
    if (Item* item = Of(self)->Append(KESTREL_ROW_MARKER_NAME, nullptr))
      item->type = KESTREL_ROW_MARKER_TYPE;
  }
  static void KESTREL_CALL AppendRow(IorvParamsListA*, void*) {}
  static HRESULT KESTREL_CALL GetItem(IorvParamsListA* self, int32_t index,
                                      IorvParamsListItemA** item) {
    List* list = Of(self);
    *item = index >= 0 && index < list->count_ ? &list->items_[index].face : nullptr;
    return S_OK;
  }
  static HRESULT KESTREL_CALL AppendList(IorvParamsListA*, void*, KestrelBool* result) {
    *result = 0;
    return E_NOTIMPL;
  }
  static HRESULT KESTREL_CALL AppendRange(IorvParamsListA*, void*, int32_t, int32_t,
                                          KestrelBool* result) {
    *result = 0;
    return E_NOTIMPL;
  }
  static int IndexOf(List* list, const char* name, int32_t start, int32_t stop) {
    start = std::max(start, 0);
    if (stop < 0 || stop >= list->count_)
      stop = list->count_ - 1;
    for (int32_t i = start; name && i <= stop; ++i)
      if (SameName(list->items_[i].name, name))
        return i;
    return -1;
  }
  static HRESULT KESTREL_CALL Find(IorvParamsListA* self, const char* name, int32_t start,
                                   int32_t stop, IorvParamsListItemA** item) {
    const int index = IndexOf(Of(self), name, start, stop);
    *item = index >= 0 ? &Of(self)->items_[index].face : nullptr;
    return S_OK;
  }
  static HRESULT KESTREL_CALL IndexOfName(IorvParamsListA* self, const char* name, int32_t start,
                                          int32_t stop, int32_t* index) {
    *index = IndexOf(Of(self), name, start, stop);
    return S_OK;
  }
  static HRESULT KESTREL_CALL GetValue(IorvParamsListA* self, const char* name, int32_t start,
                                       int32_t stop, VARIANT* value) {
    const int index = IndexOf(Of(self), name, start, stop);
    VariantInit(value);
    const Item* item = index >= 0 ? &Of(self)->items_[index] : nullptr;
    return item && item->value ? Materialize(*item->value, value) : S_OK;
  }
  static HRESULT KESTREL_CALL GetValueDef(IorvParamsListA* self, const char* name,
                                          const VARIANT* fallback, int32_t start, int32_t stop,
                                          VARIANT* value) {
    const int index = IndexOf(Of(self), name, start, stop);
    VariantInit(value);
    if (index < 0)
      return VariantCopy(value, fallback);
    const Item& item = Of(self)->items_[index];
    return item.value ? Materialize(*item.value, value) : S_OK;
  }
  static HRESULT KESTREL_CALL Add(IorvParamsListA* self, const char* name, const VARIANT* value,
                                  IorvParamsListItemA** item) {
    Item* added = Of(self)->Append(name, value);
    if (item)
      *item = added ? &added->face : nullptr;
    return added ? S_OK : E_OUTOFMEMORY;
  }
  static HRESULT KESTREL_CALL Insert(IorvParamsListA*, int32_t, const char*, const VARIANT*,
                                     IorvParamsListItemA** item) {
    *item = nullptr;
    return E_NOTIMPL;
  }
  static HRESULT KESTREL_CALL SetValue(IorvParamsListA* self, const char* name,
                                       const VARIANT* value, KestrelBool add,
                                       IorvParamsListItemA** item) {
    List* list = Of(self);
    const int index = IndexOf(list, name, 0, -1);
    if (item)
      *item = nullptr;
    if (index < 0)
      return add ? Add(self, name, value, item) : S_OK;
    list->items_[index].value = list->TakeValue(value);
    if (item)
      *item = &list->items_[index].face;
    return list->items_[index].value ? S_OK : E_OUTOFMEMORY;
  }
  static HRESULT KESTREL_CALL AddItem(IorvParamsListA*, IorvParamsListItemA*,
                                      IorvParamsListItemA** item) {
    *item = nullptr;
    return E_NOTIMPL;
  }
};

namespace {

const IorvParamsListItemAVtbl kItemTable = {
    LeanAccess::ItemQuery, LeanAccess::ItemRef,      LeanAccess::ItemRef,      LeanAccess::SetKey,
    LeanAccess::SetType,   LeanAccess::SetState,     LeanAccess::GetKey,       LeanAccess::GetType,
    LeanAccess::GetState,  LeanAccess::SetItemValue, LeanAccess::GetItemValue, LeanAccess::SetName,
    LeanAccess::GetName,   LeanAccess::IsNewRow};

const IorvParamsListAVtbl kListTable = {
    LeanAccess::Query,       LeanAccess::AddRef,     LeanAccess::Release,     LeanAccess::Count,
    LeanAccess::Signature,   LeanAccess::GetTag,     LeanAccess::SetTag,      LeanAccess::Clear,
    LeanAccess::Delete,      LeanAccess::FindRowEnd, LeanAccess::AddNewRow,   LeanAccess::AppendRow,
    LeanAccess::GetItem,     LeanAccess::AppendList, LeanAccess::AppendRange, LeanAccess::Find,
    LeanAccess::IndexOfName, LeanAccess::GetValue,   LeanAccess::GetValueDef, LeanAccess::Add,
    LeanAccess::Insert,      LeanAccess::SetValue,   LeanAccess::AddItem};

HRESULT Materialize(const LeanHostList::Value& value, VARIANT* out) {
  if (!value.array)
    return VariantCopy(out, &value.scalar);
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, value.count);
  if (!array)
    return E_OUTOFMEMORY;
  void* data = nullptr;
  SafeArrayAccessData(array, &data);
  auto* slots = static_cast<VARIANT*>(data);
  HRESULT result = S_OK;
  for (uint32_t i = 0; i < value.count && result == S_OK; ++i)
    result = Materialize(value.elements[i], &slots[i]);
  SafeArrayUnaccessData(array);
  if (result != S_OK) {
    SafeArrayDestroy(array);
    return result;
  }
  out->vt = VT_ARRAY | VT_VARIANT;
  out->parray = array;
  return S_OK;
}

} // namespace

LeanHostList::LeanHostList() {
  face_.lpVtbl = &kListTable;
}

LeanHostList::~LeanHostList() {
  Clear();
  std::free(items_);
  while (first_) {
    Chunk* next = first_->next;
    std::free(first_);
    first_ = next;
  }
}

namespace {

void ReleaseHeapValues(const LeanHostList::Value& value) {
  if (value.heap)
    VariantClear(const_cast<VARIANT*>(&value.scalar));
  for (uint32_t i = 0; value.array && i < value.count; ++i)
    ReleaseHeapValues(value.elements[i]);
}

} // namespace

void LeanHostList::Clear() {
  if (holds_heap_values_) {
    for (int32_t i = 0; i < count_; ++i)
      if (items_[i].value)
        ReleaseHeapValues(*items_[i].value);
    holds_heap_values_ = false;
  }
  count_ = 0;
  current_ = first_;
  used_ = 0;
}

void* LeanHostList::Take(std::size_t bytes) {
  bytes = (bytes + kAlign - 1) / kAlign * kAlign;
  if (!current_ || used_ + bytes > current_->size) {
    Chunk* next = current_ ? current_->next : first_;
    if (!next || next->size < bytes) {
      // A new chunk goes after the current one; a free chunk too small for this request stays
      // behind it for later packets.
      const std::size_t size = std::max(kChunk, bytes);
      auto* chunk = static_cast<Chunk*>(std::malloc(sizeof(Chunk) + size));
      if (!chunk)
        return nullptr;
      ++allocations_;
      chunk->size = size;
      chunk->next = next;
      (current_ ? current_->next : first_) = chunk;
      next = chunk;
    }
    current_ = next;
    used_ = 0;
  }
  unsigned char* at = reinterpret_cast<unsigned char*>(current_ + 1) + used_;
  used_ += bytes;
  return at;
}

const char* LeanHostList::TakeText(const char* text) {
  if (!text)
    return nullptr;
  const std::size_t length = std::strlen(text);
  auto* copy = static_cast<char*>(Take(length + 1));
  if (copy)
    std::memcpy(copy, text, length + 1);
  return copy;
}

const LeanHostList::Value* LeanHostList::TakeValue(const VARIANT* source) {
  auto* value = static_cast<Value*>(Take(sizeof(Value)));
  return value && Store(source, value) ? value : nullptr;
}

bool LeanHostList::Store(const VARIANT* source, Value* value) {
  std::memset(value, 0, sizeof(Value));
  VariantInit(&value->scalar);
  if (!source)
    return true;
  const VARTYPE vt = source->vt;
  if (vt == VT_BSTR && source->bstrVal) {
    const uint32_t bytes = SysStringByteLen(source->bstrVal);
    auto* block = static_cast<unsigned char*>(Take(sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
    if (!block)
      return false;
    std::memcpy(block, &bytes, sizeof(uint32_t));
    std::memcpy(block + sizeof(uint32_t), source->bstrVal, bytes);
    std::memset(block + sizeof(uint32_t) + bytes, 0, sizeof(OLECHAR));
    value->scalar.vt = VT_BSTR;
    value->scalar.bstrVal = reinterpret_cast<BSTR>(block + sizeof(uint32_t));
    return true;
  }
  if (vt == (VT_ARRAY | VT_VARIANT) && source->parray && SafeArrayGetDim(source->parray) == 1) {
    LONG low = 0;
    LONG high = -1;
    SafeArrayGetLBound(source->parray, 1, &low);
    SafeArrayGetUBound(source->parray, 1, &high);
    const uint32_t count = high >= low ? static_cast<uint32_t>(high - low + 1) : 0;
    auto* elements = static_cast<Value*>(Take(sizeof(Value) * std::max<uint32_t>(count, 1)));
    void* data = nullptr;
    if (!elements || SafeArrayAccessData(source->parray, &data) != S_OK)
      return false;
    const auto* slots = static_cast<const VARIANT*>(data);
    bool whole = true;
    for (uint32_t i = 0; i < count && whole; ++i)
      whole = Store(&slots[i], &elements[i]);
    SafeArrayUnaccessData(source->parray);
    value->array = true;
    value->elements = elements;
    value->count = count;
    return whole;
  }
  if ((vt & VT_ARRAY) || vt == VT_UNKNOWN || vt == VT_DISPATCH) {
    if (VariantCopy(&value->scalar, source) != S_OK)
      return false;
    value->heap = true;
    holds_heap_values_ = true;
    ++allocations_; // at least one
    return true;
  }
  std::memcpy(&value->scalar, source, sizeof(VARIANT));
  return true;
}

LeanHostList::Item* LeanHostList::Append(const char* name, const VARIANT* value) {
  if (static_cast<std::size_t>(count_) == capacity_) {
    const std::size_t capacity = capacity_ ? capacity_ * 2 : 256;
    auto* grown = static_cast<Item*>(std::realloc(items_, sizeof(Item) * capacity));
    if (!grown)
      return nullptr;
    ++allocations_;
    items_ = grown;
    capacity_ = capacity;
  }
  Item& item = items_[count_];
  item.face.lpVtbl = &kItemTable;
  item.owner = this;
  item.name = TakeText(name ? name : "");
  item.key = item.name;
  item.type = 0;
  item.state = 0;
  item.value = TakeValue(value);
  if (!item.name || !item.value)
    return nullptr;
  ++count_;
  return &item;
}

} // namespace kestrel::bench
