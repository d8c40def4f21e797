#include "common/orv_param_lst_wrap.h"
#include "common/ascii_text.h"

#include "common/assertion.h"
#include "common/interface_ref.h"
#include "platform/system.h"
#include "platform/text.h"

#include <cstring>
#include <stdexcept>

namespace kestrel {

namespace {

constexpr VARTYPE kVarString = 0x100;  // 8-bit text of the host's run-time
constexpr VARTYPE kVarUString = 0x102; // UTF-16 text of the host's run-time

// Runs `body`; any exception becomes E_UNEXPECTED.
template <typename Body> HRESULT Guard(Body&& body) noexcept {
  try {
    body();
    return S_OK;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

void ZeroVariant(VARIANT* value) noexcept {
  if (value)
    std::memset(value, 0, sizeof(VARIANT));
}

template <typename T> void ClearOut(T** out) noexcept {
  if (out)
    *out = nullptr;
}

std::string AnsiName(const char* name) {
  return name ? std::string(name) : std::string();
}

std::string WideName(const OLECHAR* name) {
  if (!name)
    return {};
  return platform::WideToAnsi(platform::WideStringView(name));
}

void Check(HRESULT hr, const char* what) {
  if (hr != S_OK)
    throw std::runtime_error(std::string(what) + " failed with HRESULT " + std::to_string(hr));
}

} // namespace

bool SameGuid(const KestrelGuid* a, const KestrelGuid& b) noexcept {
  return a && std::memcmp(a, &b, sizeof(KestrelGuid)) == 0;
}

Variant ReadIncomingVariant(const VARIANT* value, bool wide) {
  if (!value)
    throw std::invalid_argument("No value given");
  if ((value->vt == kVarString || value->vt == kVarUString) && value->byref) {
    if (value->vt == kVarString && !wide)
      return Variant(std::string_view(static_cast<const char*>(value->byref)));
    return Variant(platform::WideStringView(static_cast<const OLECHAR*>(value->byref)));
  }
  return Variant(*value);
}

// ---- TorvParamsListItemWrap ----------------------------------------------------------------

struct ItemMethods {
  static TorvParamsListItemWrap* Self(const void* face) {
    return static_cast<const TorvParamsListItemWrap::Face*>(face)->owner;
  }

  static HRESULT KESTREL_CALL QueryInterface(IorvParamsListItemW* face, const KestrelGuid* iid,
                                             void** out) {
    if (!out)
      return E_POINTER;
    *out = nullptr;
    if (!SameGuid(iid, IID_IorvParamsListItemA) && !SameGuid(iid, IID_IorvParamsListItemW))
      return E_NOINTERFACE;
    Self(face)->AddRef();
    *out = face;
    return S_OK;
  }
  static uint32_t KESTREL_CALL AddRef(IorvParamsListItemW* face) { return Self(face)->AddRef(); }
  static uint32_t KESTREL_CALL Release(IorvParamsListItemW* face) { return Self(face)->Release(); }
  static void KESTREL_CALL SetKeyText(IorvParamsListItemW* face, const char* key) {
    try {
      Self(face)->key_text_ = AnsiName(key);
      Self(face)->key_ready_ = true;
    } catch (...) {
      // A void interface method has no way to report a failure, and none may reach the caller.
    }
  }
  static void KESTREL_CALL SetDataType(IorvParamsListItemW* face, int32_t type) {
    Self(face)->item_->DataType = type;
  }
  static void KESTREL_CALL SetState(IorvParamsListItemW* face, uint8_t state) {
    Self(face)->item_->State = state;
  }
  static const char* KESTREL_CALL GetKeyText(IorvParamsListItemW* face) {
    const std::string& key = Self(face)->KeyText();
    return key.empty() ? nullptr : key.c_str();
  }
  static int32_t KESTREL_CALL GetDataType(IorvParamsListItemW* face) {
    return Self(face)->item_->DataType;
  }
  static uint8_t KESTREL_CALL GetState(IorvParamsListItemW* face) {
    return Self(face)->item_->State;
  }
  static HRESULT SetValueFrom(IorvParamsListItemW* face, const VARIANT* value, bool wide) {
    return Guard([&] { Self(face)->item_->Value = ReadIncomingVariant(value, wide); });
  }
  static HRESULT KESTREL_CALL SetValue(IorvParamsListItemW* face, const VARIANT* value) {
    return SetValueFrom(face, value, false);
  }
  static HRESULT KESTREL_CALL SetValueW(IorvParamsListItemW* face, const VARIANT* value) {
    return SetValueFrom(face, value, true);
  }
  static HRESULT KESTREL_CALL GetValue(IorvParamsListItemW* face, VARIANT* value) {
    ZeroVariant(value);
    return Guard([&] {
      if (!value)
        throw std::invalid_argument("No target");
      Self(face)->item_->Value.CopyTo(value);
    });
  }
  static void KESTREL_CALL SetName(IorvParamsListItemW* face, const char* name) {
    try {
      Self(face)->item_->Name = AnsiName(name);
      Self(face)->RefreshNames();
    } catch (...) {
      // A void interface method has no way to report a failure, and none may reach the caller.
    }
  }
  static void KESTREL_CALL SetNameW(IorvParamsListItemW* face, const OLECHAR* name) {
    try {
      Self(face)->item_->Name = WideName(name);
      Self(face)->RefreshNames();
    } catch (...) {
      // A void interface method has no way to report a failure, and none may reach the caller.
    }
  }
  static const char* KESTREL_CALL GetName(IorvParamsListItemW* face) {
    const std::string& name = Self(face)->name_;
    return name.empty() ? nullptr : name.c_str();
  }
  static const OLECHAR* KESTREL_CALL GetNameW(IorvParamsListItemW* face) {
    const platform::WideString& name = Self(face)->WideName();
    return name.empty() ? nullptr : name.c_str();
  }
  static KestrelBool KESTREL_CALL IsNewRow(IorvParamsListItemW* face) {
    return Self(face)->item_->IsRowMarker() ? 1 : 0;
  }

  static const IorvParamsListItemWVtbl kTable;
};

const IorvParamsListItemWVtbl ItemMethods::kTable = {
    &ItemMethods::QueryInterface, &ItemMethods::AddRef,      &ItemMethods::Release,
    &ItemMethods::SetKeyText,     &ItemMethods::SetDataType, &ItemMethods::SetState,
    &ItemMethods::GetKeyText,     &ItemMethods::GetDataType, &ItemMethods::GetState,
    &ItemMethods::SetValue,       &ItemMethods::GetValue,    &ItemMethods::SetName,
    &ItemMethods::GetName,        &ItemMethods::IsNewRow,    &ItemMethods::SetNameW,
    &ItemMethods::GetNameW,       &ItemMethods::SetValueW,   &ItemMethods::GetValue,
};

TorvParamsListItemWrap* TorvParamsListItemWrap::Create(TorvParamsListItem* item,
                                                       TorvParamsListWrap* parent) {
  KESTREL_ASSERT(item, "No item to wrap");
  return new TorvParamsListItemWrap(item, parent);
}

TorvParamsListItemWrap::TorvParamsListItemWrap(TorvParamsListItem* item, TorvParamsListWrap* parent)
    : face_{&ItemMethods::kTable, this}, item_(item), parent_(parent) {
  RefreshNames();
  if (parent_)
    parent_->AddRef();
}

TorvParamsListItemWrap::~TorvParamsListItemWrap() {
  if (parent_)
    parent_->Release();
}

// The wide name and the key text are made on first request: most items copied across the
// boundary are only asked for their name and value.
void TorvParamsListItemWrap::RefreshNames() {
  name_ = item_->Name;
  wide_ready_ = false;
  key_ready_ = false;
}

const platform::WideString& TorvParamsListItemWrap::WideName() {
  if (!wide_ready_) {
    name_wide_ = platform::AnsiToWide(name_);
    wide_ready_ = true;
  }
  return name_wide_;
}

const std::string& TorvParamsListItemWrap::KeyText() {
  if (!key_ready_) {
    key_text_ = platform::AnsiToUtf8(AsciiLowerCase(name_));
    key_ready_ = true;
  }
  return key_text_;
}

TorvParamsListItemWrap* TorvParamsListItemWrap::FromInterface(const void* face) noexcept {
  if (!face || !platform::IsReadableMemory(face, sizeof(Face)))
    return nullptr;
  const Face* candidate = static_cast<const Face*>(face);
  return candidate->vtbl == &ItemMethods::kTable ? candidate->owner : nullptr;
}

uint32_t TorvParamsListItemWrap::AddRef() noexcept {
  return ++refs_;
}

uint32_t TorvParamsListItemWrap::Release() noexcept {
  const uint32_t left = --refs_;
  if (left == 0)
    delete this;
  return left;
}

// ---- TorvParamsListWrap --------------------------------------------------------------------

namespace {

// The list behind a list object handed in by the host: one of our wrappers (by either
// interface), or, when `plain_allowed`, a plain list with a valid signature.
TorvParamsList* ResolveSource(void* source, bool plain_allowed) {
  if (!source)
    return nullptr;
  if (TorvParamsListWrap* wrap = TorvParamsListWrap::FromInterface(source))
    return wrap->List();
  if (plain_allowed && TorvParamsList::HasValidSignature(source))
    return static_cast<TorvParamsList*>(source);
  throw EAssertionFailed("Not a parameter list object", __FILE__, __LINE__);
}

// Names and item interfaces of the two list interfaces.
struct AnsiFlavour {
  using Face = IorvParamsListA;
  using Holder = TorvParamsListWrap::FaceA;
  using Char = char;
  using ItemFace = IorvParamsListItemA;
  static constexpr bool kWide = false;
  static std::string Name(const char* name) { return AnsiName(name); }
  static ItemFace* ItemOf(TorvParamsListItemWrap* wrap) { return wrap->InterfaceA(); }
  static Variant SourceValue(ItemFace* source) {
    VARIANT raw;
    ZeroVariant(&raw);
    Check(source->lpVtbl->GetValue(source, &raw), "Reading an item value");
    return Variant::Adopt(raw);
  }
  static std::string SourceName(ItemFace* source) {
    return AnsiName(source->lpVtbl->GetName(source));
  }
};

struct WideFlavour {
  using Face = IorvParamsListW;
  using Holder = TorvParamsListWrap::FaceW;
  using Char = OLECHAR;
  using ItemFace = IorvParamsListItemW;
  static constexpr bool kWide = true;
  static std::string Name(const OLECHAR* name) { return WideName(name); }
  static ItemFace* ItemOf(TorvParamsListItemWrap* wrap) { return wrap->InterfaceW(); }
  static Variant SourceValue(ItemFace* source) {
    VARIANT raw;
    ZeroVariant(&raw);
    Check(source->lpVtbl->GetValueW(source, &raw), "Reading an item value");
    return Variant::Adopt(raw);
  }
  static std::string SourceName(ItemFace* source) {
    return WideName(source->lpVtbl->GetNameW(source));
  }
};

} // namespace

template <typename Flavour> struct ListMethods {
  using Face = typename Flavour::Face;
  using Char = typename Flavour::Char;
  using ItemFace = typename Flavour::ItemFace;

  static TorvParamsListWrap* Self(const Face* face) {
    return reinterpret_cast<const typename Flavour::Holder*>(face)->owner;
  }
  static TorvParamsList& List(const Face* face) { return *Self(face)->List(); }

  // Hands out a new item wrapper (count 1) for `item`, or nullptr.
  static void HandOut(Face* face, TorvParamsListItem* item, ItemFace** out) {
    if (!out || !item)
      return;
    TorvParamsListItemWrap* wrap = TorvParamsListItemWrap::Create(item, Self(face));
    wrap->AddRef();
    *out = Flavour::ItemOf(wrap);
  }

  static HRESULT KESTREL_CALL QueryInterface(Face* face, const KestrelGuid* iid, void** out) {
    if (!out)
      return E_POINTER;
    *out = nullptr;
    TorvParamsListWrap* self = Self(face);
    if (SameGuid(iid, IID_IorvParamsListA))
      *out = self->InterfaceA();
    else if (SameGuid(iid, IID_IorvParamsListW))
      *out = self->InterfaceW();
    else
      return E_NOINTERFACE;
    self->AddRef();
    return S_OK;
  }
  static uint32_t KESTREL_CALL AddRef(Face* face) { return Self(face)->AddRef(); }
  static uint32_t KESTREL_CALL Release(Face* face) { return Self(face)->Release(); }
  static int32_t KESTREL_CALL GetCount(Face* face) { return List(face).Count(); }
  static int32_t KESTREL_CALL GetSignature(Face* face) {
    return static_cast<int32_t>(List(face).Signature());
  }
  static int32_t KESTREL_CALL GetTag(Face* face) { return List(face).Tag; }
  static void KESTREL_CALL SetTag(Face* face, int32_t tag) { List(face).Tag = tag; }
  static void KESTREL_CALL Clear(Face* face) { List(face).Clear(); }
  static void KESTREL_CALL Delete(Face* face, int32_t index) {
    try {
      List(face).Delete(index);
    } catch (...) {
      // A void interface method has no way to report a failure, and none may reach the caller.
    }
  }
  static KestrelBool KESTREL_CALL FindRowEnd(Face* face, int32_t start, int32_t* index,
                                             KestrelBool* is_marker) {
    int found = -1;
    bool marker = false;
    const bool result = List(face).FindRowEnd(start, found, marker);
    if (index)
      *index = result ? found : -1;
    if (is_marker)
      *is_marker = result && marker ? 1 : 0;
    return result ? 1 : 0;
  }
  static void KESTREL_CALL AddNewRow(Face* face) {
    try {
      List(face).AddNewRow();
    } catch (...) {
      // A void interface method has no way to report a failure, and none may reach the caller.
    }
  }
  static void KESTREL_CALL AppendRow(Face* face, void* source) {
    try {
      List(face).AppendRow(ResolveSource(source, false));
    } catch (...) {
      // A void interface method has no way to report a failure, and none may reach the caller.
    }
  }
  static HRESULT KESTREL_CALL GetItem(Face* face, int32_t index, ItemFace** item) {
    ClearOut(item);
    return Guard([&] { HandOut(face, List(face).Items(index), item); });
  }
  static HRESULT KESTREL_CALL AppendList(Face* face, void* source, KestrelBool* result) {
    if (result)
      *result = 0;
    return Guard([&] {
      const bool done = List(face).AppendList(ResolveSource(source, !Flavour::kWide));
      if (result)
        *result = done ? 1 : 0;
    });
  }
  static HRESULT KESTREL_CALL AppendRange(Face* face, void* source, int32_t from, int32_t to,
                                          KestrelBool* result) {
    if (result)
      *result = 0;
    return Guard([&] {
      const bool done = List(face).AppendRange(ResolveSource(source, !Flavour::kWide), from, to);
      if (result)
        *result = done ? 1 : 0;
    });
  }
  static HRESULT KESTREL_CALL Find(Face* face, const Char* name, int32_t start, int32_t stop,
                                   ItemFace** item) {
    ClearOut(item);
    return Guard([&] { HandOut(face, List(face).Find(Flavour::Name(name), start, stop), item); });
  }
  static HRESULT KESTREL_CALL IndexOf(Face* face, const Char* name, int32_t start, int32_t stop,
                                      int32_t* index) {
    if (index)
      *index = -1;
    return Guard([&] {
      const int found = List(face).IndexOf(Flavour::Name(name), start, stop);
      if (index)
        *index = found;
    });
  }
  static HRESULT KESTREL_CALL GetValue(Face* face, const Char* name, int32_t start, int32_t stop,
                                       VARIANT* value) {
    ZeroVariant(value);
    return Guard([&] {
      const Variant found = List(face).GetValue(Flavour::Name(name), start, stop);
      if (value)
        found.CopyTo(value);
    });
  }
  static HRESULT KESTREL_CALL GetValueDef(Face* face, const Char* name, const VARIANT* fallback,
                                          int32_t start, int32_t stop, VARIANT* value) {
    ZeroVariant(value);
    return Guard([&] {
      const Variant found = List(face).GetValueDef(
          Flavour::Name(name), ReadIncomingVariant(fallback, Flavour::kWide), start, stop);
      if (value)
        found.CopyTo(value);
    });
  }
  static HRESULT KESTREL_CALL Add(Face* face, const Char* name, const VARIANT* value,
                                  ItemFace** item) {
    ClearOut(item);
    return Guard([&] {
      HandOut(face, List(face).Add(Flavour::Name(name), ReadIncomingVariant(value, Flavour::kWide)),
              item);
    });
  }
  static HRESULT KESTREL_CALL Insert(Face* face, int32_t index, const Char* name,
                                     const VARIANT* value, ItemFace** item) {
    ClearOut(item);
    return Guard([&] {
      HandOut(
          face,
          List(face).Insert(index, Flavour::Name(name), ReadIncomingVariant(value, Flavour::kWide)),
          item);
    });
  }
  static HRESULT KESTREL_CALL SetValue(Face* face, const Char* name, const VARIANT* value,
                                       KestrelBool add_if_missing, ItemFace** item) {
    ClearOut(item);
    return Guard([&] {
      HandOut(face,
              List(face).SetValue(Flavour::Name(name), ReadIncomingVariant(value, Flavour::kWide),
                                  add_if_missing != 0),
              item);
    });
  }
  static HRESULT KESTREL_CALL AddItem(Face* face, ItemFace* source, ItemFace** item) {
    ClearOut(item);
    return Guard([&] {
      if (!source)
        throw std::invalid_argument("No source item");
      Variant value = Flavour::SourceValue(source);
      HandOut(face, List(face).Add(Flavour::SourceName(source), value), item);
    });
  }
};

namespace {

using AnsiMethods = ListMethods<AnsiFlavour>;
using WideMethods = ListMethods<WideFlavour>;

const IorvParamsListAVtbl kListATable = {
    &AnsiMethods::QueryInterface, &AnsiMethods::AddRef,       &AnsiMethods::Release,
    &AnsiMethods::GetCount,       &AnsiMethods::GetSignature, &AnsiMethods::GetTag,
    &AnsiMethods::SetTag,         &AnsiMethods::Clear,        &AnsiMethods::Delete,
    &AnsiMethods::FindRowEnd,     &AnsiMethods::AddNewRow,    &AnsiMethods::AppendRow,
    &AnsiMethods::GetItem,        &AnsiMethods::AppendList,   &AnsiMethods::AppendRange,
    &AnsiMethods::Find,           &AnsiMethods::IndexOf,      &AnsiMethods::GetValue,
    &AnsiMethods::GetValueDef,    &AnsiMethods::Add,          &AnsiMethods::Insert,
    &AnsiMethods::SetValue,       &AnsiMethods::AddItem,
};

const IorvParamsListWVtbl kListWTable = {
    &WideMethods::QueryInterface, &WideMethods::AddRef,       &WideMethods::Release,
    &WideMethods::GetCount,       &WideMethods::GetSignature, &WideMethods::GetTag,
    &WideMethods::SetTag,         &WideMethods::Clear,        &WideMethods::Delete,
    &WideMethods::FindRowEnd,     &WideMethods::AddNewRow,    &WideMethods::AppendRow,
    &WideMethods::GetItem,        &WideMethods::AppendList,   &WideMethods::AppendRange,
    &WideMethods::Find,           &WideMethods::IndexOf,      &WideMethods::GetValue,
    &WideMethods::GetValueDef,    &WideMethods::Add,          &WideMethods::Insert,
    &WideMethods::SetValue,       &WideMethods::AddItem,
};

} // namespace

TorvParamsListWrap* TorvParamsListWrap::Create() {
  auto list = std::make_unique<TorvParamsList>();
  TorvParamsListWrap* wrap = new TorvParamsListWrap(list.get(), true);
  list.release();
  return wrap;
}

TorvParamsListWrap* TorvParamsListWrap::Create(TorvParamsList* list, bool owns) {
  KESTREL_ASSERT(list, "No list to wrap");
  return new TorvParamsListWrap(list, owns);
}

TorvParamsListWrap::TorvParamsListWrap(TorvParamsList* list, bool owns)
    : face_a_{&kListATable, this}, face_w_{&kListWTable, this}, list_(list), owns_(owns) {}

TorvParamsListWrap::~TorvParamsListWrap() {
  if (owns_)
    delete list_;
}

TorvParamsListWrap* TorvParamsListWrap::FromInterface(const void* face) noexcept {
  if (!face || !platform::IsReadableMemory(face, sizeof(FaceA)))
    return nullptr;
  const auto* candidate = static_cast<const FaceA*>(face);
  if (candidate->vtbl == &kListATable)
    return candidate->owner;
  if (static_cast<const void*>(candidate->vtbl) == &kListWTable)
    return candidate->owner;
  return nullptr;
}

uint32_t TorvParamsListWrap::AddRef() noexcept {
  return ++refs_;
}

uint32_t TorvParamsListWrap::Release() noexcept {
  const uint32_t left = --refs_;
  if (left == 0)
    delete this;
  return left;
}

// ---- Interface-to-interface copy -------------------------------------------------------------

void CopyParamsRange(IorvParamsListA* source, IorvParamsListA* target, int from, int to) {
  KESTREL_ASSERT(source && target, "No list to copy");
  const int count = source->lpVtbl->GetCount(source);
  if (from < 0)
    from = 0;
  if (to < 0 || to >= count)
    to = count - 1;
  for (int i = from; i <= to; ++i) {
    InterfaceRef<IorvParamsListItemA> item;
    Check(source->lpVtbl->GetItem(source, i, item.Out()), "Reading an item");
    if (!item)
      continue;
    VARIANT raw;
    ZeroVariant(&raw);
    Check(item->lpVtbl->GetValue(item.Get(), &raw), "Reading an item value");
    Variant value = Variant::Adopt(raw);
    VARIANT copy = value.Detach();
    InterfaceRef<IorvParamsListItemA> added;
    const HRESULT hr =
        target->lpVtbl->Add(target, item->lpVtbl->GetName(item.Get()), &copy, added.Out());
    VariantClear(&copy);
    Check(hr, "Adding an item");
    if (!added)
      continue;
    added->lpVtbl->SetKeyText(added.Get(), item->lpVtbl->GetKeyText(item.Get()));
    added->lpVtbl->SetDataType(added.Get(), item->lpVtbl->GetDataType(item.Get()));
    added->lpVtbl->SetState(added.Get(), item->lpVtbl->GetState(item.Get()));
  }
}

namespace {

// The key text of a name as an item wrapper gives it out: UTF-8 of the name lower-cased in the
// ASCII range, nullptr when empty. ASCII is the same in every ANSI code page and in UTF-8, so a
// name without other bytes is only lower-cased, into `buffer`.
const char* KeyTextOf(const std::string& name, std::string& buffer) {
  if (name.empty())
    return nullptr;
  buffer.resize(name.size());
  if (!AsciiLowerCopy(name.data(), buffer.data(), name.size()))
    buffer = platform::AnsiToUtf8(buffer);
  return buffer.empty() ? nullptr : buffer.c_str();
}

} // namespace

void CopyListItems(const TorvParamsList& source, IorvParamsListA* target) {
  KESTREL_ASSERT(target, "No list to copy");
  std::string key;
  const int count = source.Count();
  for (int i = 0; i < count; ++i) {
    const TorvParamsListItem* item = source.Items(i);
    if (!item)
      continue;
    InterfaceRef<IorvParamsListItemA> added;
    Check(target->lpVtbl->Add(target, item->Name.empty() ? nullptr : item->Name.c_str(),
                              &item->Value.Raw(), added.Out()),
          "Adding an item");
    if (!added)
      continue;
    added->lpVtbl->SetKeyText(added.Get(), KeyTextOf(item->Name, key));
    added->lpVtbl->SetDataType(added.Get(), item->DataType);
    added->lpVtbl->SetState(added.Get(), item->State);
  }
}

} // namespace kestrel
