// The boundary wrappers of parameter lists: reference-counted objects that hand a list and its
// items to the host through the IorvParamsListA/W and IorvParamsListItemA/W interfaces.
// Interface methods never let an exception out: they return E_UNEXPECTED instead (or, where
// they have no result code, leave things unchanged).
#pragma once

#include "common/orv_param_lst.h"

#include <kestrel/kestrel.h>

#include <atomic>
#include <string>

namespace kestrel {

class TorvParamsListWrap;

// One item, not owned. Created afresh for every item handed out, with a count of 0; it frees
// itself when its count drops back to 0. One table serves both item interfaces (the A table
// is the first 14 slots of the W table).
class TorvParamsListItemWrap {
public:
  // `parent`, when given, is kept alive while this wrapper lives.
  static TorvParamsListItemWrap* Create(TorvParamsListItem* item,
                                        TorvParamsListWrap* parent = nullptr);

  IorvParamsListItemA* InterfaceA() { return reinterpret_cast<IorvParamsListItemA*>(&face_); }
  IorvParamsListItemW* InterfaceW() { return reinterpret_cast<IorvParamsListItemW*>(&face_); }
  // The wrapper behind an item interface of this library, nullptr for anything else.
  static TorvParamsListItemWrap* FromInterface(const void* face) noexcept;

  uint32_t AddRef() noexcept;
  uint32_t Release() noexcept;
  TorvParamsListItem* Item() const { return item_; }

  struct Face {
    const IorvParamsListItemWVtbl* vtbl;
    TorvParamsListItemWrap* owner;
  };

private:
  TorvParamsListItemWrap(TorvParamsListItem* item, TorvParamsListWrap* parent);
  ~TorvParamsListItemWrap();
  void RefreshNames();
  const platform::WideString& WideName();
  const std::string& KeyText();

  friend struct ItemMethods;
  Face face_;
  std::atomic<uint32_t> refs_{0};
  TorvParamsListItem* item_;
  TorvParamsListWrap* parent_;
  std::string name_;
  platform::WideString name_wide_;
  std::string key_text_; // UTF-8 of the name lower-cased in the ASCII range, unless set
  bool wide_ready_ = false;
  bool key_ready_ = false;
};

// One list, owned or not. Two interfaces with separate tables; the object is known to the host
// by either interface pointer (AppendRow and the W AppendList/AppendRange take it so).
class TorvParamsListWrap {
public:
  // Wrappers start with a count of 0: take a reference before calling through an interface,
  // since the release of the last reference (also one held by an item wrapper) frees it.
  // Over a new list that the wrapper owns.
  static TorvParamsListWrap* Create();
  // Over an existing list, owned only when `owns`.
  static TorvParamsListWrap* Create(TorvParamsList* list, bool owns);

  IorvParamsListA* InterfaceA() { return reinterpret_cast<IorvParamsListA*>(&face_a_); }
  IorvParamsListW* InterfaceW() { return reinterpret_cast<IorvParamsListW*>(&face_w_); }
  // The wrapper behind a list interface pointer of this library, nullptr for anything else.
  // Never faults, whatever the address.
  static TorvParamsListWrap* FromInterface(const void* face) noexcept;

  uint32_t AddRef() noexcept;
  uint32_t Release() noexcept;
  TorvParamsList* List() const { return list_; }

  struct FaceA {
    const IorvParamsListAVtbl* vtbl;
    TorvParamsListWrap* owner;
  };
  struct FaceW {
    const IorvParamsListWVtbl* vtbl;
    TorvParamsListWrap* owner;
  };

private:
  TorvParamsListWrap(TorvParamsList* list, bool owns);
  ~TorvParamsListWrap();

  FaceA face_a_;
  FaceW face_w_;
  std::atomic<uint32_t> refs_{0};
  TorvParamsList* list_;
  bool owns_;
};

// Copies items from..to of `source` into `target`, both called through the IorvParamsListA
// layout: each item's name and value are added to the target, then the new item receives the
// source item's key text, data type and state. Ranges clamp as for lists. Throws on a failed
// interface call.
void CopyParamsRange(IorvParamsListA* source, IorvParamsListA* target, int from, int to);

// Copies every item of `source` into `target` (called through the IorvParamsListA layout) with
// the calls CopyParamsRange makes over a wrapper of `source`, in the same order: Add with the
// item's name and value, then SetKeyText, SetDataType and SetState on the item that came back.
// The target is handed the stored name and value themselves (Add copies what it keeps), so no
// item wrapper and no copy of the value is made; the key text (the name lower-cased in the
// ASCII range, as UTF-8) is built in one reused buffer. Throws when Add fails.
void CopyListItems(const TorvParamsList& source, IorvParamsListA* target);

// Reads a VARIANT handed in through an interface: type 0x100 with a non-null pointer is
// NUL-terminated 8-bit text (UTF-16 when `wide`), type 0x102 NUL-terminated UTF-16 text; any
// other value is copied. Throws for a null pointer or a type that cannot be copied.
Variant ReadIncomingVariant(const VARIANT* value, bool wide);

// The interface identifiers compare by value.
bool SameGuid(const KestrelGuid* a, const KestrelGuid& b) noexcept;

} // namespace kestrel
