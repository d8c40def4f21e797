// Parameter lists: ordered lists of named variant values. Every structured exchange between
// the host and the module is one: command parameters, parsed result rows, settings. Inside the
// library a list is a plain object; the boundary wrappers (orv_param_lst_wrap.h) hand it to the
// host through interfaces.
#pragma once

#include "common/thread_object.h"
#include "common/variant.h"

#include <kestrel/kestrel.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

inline constexpr uint32_t kListSignature = KESTREL_LIST_SIGNATURE;
inline constexpr int32_t kRowMarkerType = KESTREL_ROW_MARKER_TYPE;
inline constexpr char kRowMarkerName[] = KESTREL_ROW_MARKER_NAME;
inline constexpr char kRawTextJoiner[] = KESTREL_RAW_TEXT_JOINER;
// Stop values of ranges: the last item; the last item, but a search ends at a row marker.
inline constexpr int kStopLast = KESTREL_STOP_LAST;
inline constexpr int kStopAtRowEnd = KESTREL_STOP_AT_ROW_END;
// State of an item added by Add, Insert or SetValue.
inline constexpr uint8_t kItemStateAssigned = 2;

// The look-up key of a name: the name lower-cased by the ANSI code page's locale rules.
std::string ParamKey(std::string_view name);

// One named value.
class TorvParamsListItem {
public:
  // An item built directly: State 0 when the value is Empty or Null, else 2. Key follows Name.
  TorvParamsListItem(std::string name, Variant value);
  // Name and Key give their buffers back to the thread's string store (recycled_blocks.h).
  virtual ~TorvParamsListItem();
  TorvParamsListItem(const TorvParamsListItem&) = delete;
  TorvParamsListItem& operator=(const TorvParamsListItem&) = delete;

  // Copies Name, Key, DataType and State (not the value).
  virtual void Assign(const TorvParamsListItem& source);

  bool IsRowMarker() const { return DataType == kRowMarkerType; }

  // Items of parsed rows are made and freed by the thousand per second: while a data module
  // processes a packet, their storage is recycled through its store (common/recycled_blocks.h)
  // instead of going through the heap.
  static void* operator new(std::size_t size);
  static void operator delete(void* block, std::size_t size) noexcept;

  std::string Name; // as the caller gave it, not trimmed
  std::string Key;  // ParamKey(Name); every look-up compares against it
  int32_t DataType = 0;
  uint8_t State = 0;
  Variant Value; // always OLE-compatible: text is held as VT_BSTR
};

// Creates items for a list (a class reference: subclasses supply their own).
using TorvParamsListItemClass = std::unique_ptr<TorvParamsListItem> (*)(std::string name,
                                                                        Variant value);
std::unique_ptr<TorvParamsListItem> CreateParamsListItem(std::string name, Variant value);

// An ordered list of named values that owns its items. Names are compared through their keys,
// so look-ups ignore letter case; duplicates are allowed and a look-up returns the first match
// in its range.
//
// Ranges: Start below 0 counts as 0; Stop below 0 or at/past the end means the last item;
// Stop == kStopAtRowEnd also means the last item, but a search ends after the first row
// marker it meets.
class TorvParamsList {
  // Must stay the first data member: HasValidSignature reads it at kSignatureOffset.
  uint32_t signature_;

public:
  TorvParamsList();
  virtual ~TorvParamsList();
  TorvParamsList(const TorvParamsList&) = delete;
  TorvParamsList& operator=(const TorvParamsList&) = delete;

  // Whether `object` is a live list of this library: readable, and carrying the signature at
  // kSignatureOffset. Never faults, whatever the address.
  static bool HasValidSignature(const void* object) noexcept;
  // As HasValidSignature, for an object whose first kSignatureOffset + 4 bytes the caller has
  // already found readable: only the signature word is compared.
  static bool HasSignatureWord(const void* readable_object) noexcept;
  // Where the signature word lies inside a list object: right after the table pointer.
  static constexpr std::size_t kSignatureOffset = sizeof(void*);
  const void* SignatureAddress() const { return &signature_; }

  uint32_t Signature() const { return signature_; }
  // A GUID in registry text form, unique to this list. Made on first request: lists are built
  // per parsed block and rarely asked.
  const std::string& InstanceId() const;
  int32_t Tag = 0;
  TorvParamsListItemClass ItemClass = &CreateParamsListItem;

  int Count() const { return static_cast<int>(items_.size()); }
  // The item at `index`, nullptr outside the list.
  TorvParamsListItem* Items(int index) const;
  // Replaces the item at `index` (the old one is freed); an index outside is an assertion.
  void PutItem(int index, std::unique_ptr<TorvParamsListItem> item);

  // Appends a named value; nullptr (nothing added) when the name is blank (codes 0..32 only).
  TorvParamsListItem* Add(std::string_view name, const Variant& value);
  // As Add, taking the value over instead of copying it.
  TorvParamsListItem* Add(std::string_view name, Variant&& value);
  // As Add, at `index` (0..Count).
  TorvParamsListItem* Insert(int index, std::string_view name, const Variant& value);
  // Frees the item at `index`; an index at or past the end is ignored, a negative one asserts.
  void Delete(int index);
  virtual void Clear();

  int IndexOf(std::string_view name, int start = 0, int stop = kStopLast) const;
  TorvParamsListItem* Find(std::string_view name, int start = 0, int stop = kStopLast) const;
  // The value of the first match, Empty when there is none.
  Variant GetValue(std::string_view name, int start = 0, int stop = kStopLast) const;
  Variant GetValueDef(std::string_view name, const Variant& fallback, int start = 0,
                      int stop = kStopLast) const;
  // Stores a value under a name (whole list). A missing name is added (with a Null value
  // first) when `add_if_missing`, else nothing happens and nullptr is returned. State is kept.
  TorvParamsListItem* SetValue(std::string_view name, const Variant& value, bool add_if_missing);
  // As GetValue / SetValue without adding; a missing name is an assertion failure.
  Variant GetValueStrict(std::string_view name) const;
  TorvParamsListItem* SetValueStrict(std::string_view name, const Variant& value);

  // Add of the item's name and value, then Assign from it. Nothing for nullptr or a blank name.
  virtual TorvParamsListItem* AddCopy(const TorvParamsListItem* item);
  // Appends an item read through an item interface: name, value, key text, type and state.
  virtual TorvParamsListItem* AddFromItem(IorvParamsListItemA* item);

  // Copies every item of `source`; false when it is null or empty.
  bool AppendList(const TorvParamsList* source);
  // Copies source items from..to (clamped; to below 0 or past the end = last); false only when
  // the source is null or empty.
  bool AppendRange(const TorvParamsList* source, int from, int to);
  // From `start` (clamped at 0) forward to the first row marker or the last item. False when
  // start is past the last index.
  bool FindRowEnd(int start, int& index, bool& is_marker) const;
  // Appends a row marker unless the last item already is one.
  void AddNewRow();
  // AppendList, then closes the row unless the source already ended with a marker.
  void AppendRow(const TorvParamsList* source);
  // As AppendList / AppendRow, but the items of `source` (another list) are moved over rather
  // than copied, so their names, keys and values are not built again; `source` is left empty.
  // Lists that make their items with different classes copy instead.
  void TakeList(TorvParamsList& source);
  void TakeRow(TorvParamsList& source);

protected:
  void AssertSignature() const;

private:
  TorvParamsListItem* Emplace(std::vector<std::unique_ptr<TorvParamsListItem>>::iterator where,
                              std::string_view name, Variant value);
  void ClampRange(int& start, int& stop) const;

  bool listed_ = false; // entered in the live-list table (common/live_lists.h)
  mutable std::once_flag instance_id_once_;
  mutable std::string instance_id_;
  std::vector<std::unique_ptr<TorvParamsListItem>> items_;
};

// Creates lists (a class reference with a virtual constructor).
using TorvParamsListClass = std::unique_ptr<TorvParamsList> (*)();

// A list parsed from data, with the raw text of the block(s) it came from.
class TParsedDataList : public TorvParamsList {
public:
  std::string RawText;
  // RawText := text when empty, else RawText + "<{[::]}>" + text.
  void AppendRaw(std::string_view text);
  void Clear() override; // items and RawText
};

// A list shared between threads: readers and writers take its synchronizer.
class TorvThreadParamsList : public TThreadObject {
public:
  TorvThreadParamsList();
  ~TorvThreadParamsList() override;

  TorvParamsList& LockRead();
  void UnlockRead();
  TorvParamsList& LockWrite();
  void UnlockWrite();

private:
  std::unique_ptr<TorvParamsList> list_;
};

} // namespace kestrel
