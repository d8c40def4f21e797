// The JSON document model: value classes with their virtual operations, containers that own
// their children, and the reader and writer (`TJson::Parse`, `TJson::Serialize`).
#pragma once

#include "platform/ole.h"
#include "json/json_bal_tree.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <memory_resource>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::json {

enum TJsonKind : uint8_t {
  jsBase = 0,
  jsNumber = 1,
  jsString = 2,
  jsBoolean = 3,
  jsNull = 4,
  jsList = 5,
  jsObject = 6,
};

// Raised when a typed accessor meets a child of another class, or a variant cannot be
// converted to what a value holds.
class EInvalidCast : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TJsonBase;
using TJsonPtr = std::unique_ptr<TJsonBase>;
class JsonArena;
class TJsonObject;

class TJsonBase {
public:
  TJsonBase() = default;
  TJsonBase(const TJsonBase&) = delete;
  TJsonBase& operator=(const TJsonBase&) = delete;

  // Operations in their fixed slot order.
  // `out` must hold a valid variant (VariantInit); it is cleared before it is filled.
  virtual void GetVariant(VARIANT& out) const;
  virtual void SetVariant(const VARIANT& value);
  virtual TJsonBase* GetItem(int32_t index) const;
  virtual void SetItem(int32_t index, TJsonPtr value);
  virtual int32_t ItemCount() const;
  virtual TJsonBase* GetItemByKey(const VARIANT& key) const;
  virtual TJsonKind Kind() const;
  virtual const char* KindName() const;

  virtual ~TJsonBase();

  // Deleting a node runs its destructor; the memory goes back to the heap, or stays with the
  // arena of the document the reader built it in (see json_arena.h). Deleting the container
  // that owns such an arena releases the arena as well.
  static void operator delete(TJsonBase* node, std::destroying_delete_t);

  // What Kind() reports and whether the node is a member or a list of children, read without
  // a virtual call: the walks over a document ask it of every node.
  TJsonKind StoredKind() const { return static_cast<TJsonKind>(tag_ & kKindBits); }
  bool IsMember() const { return (tag_ & kMemberTag) != 0; }
  bool IsContainer() const { return (tag_ & kContainerTag) != 0; }

protected:
  static constexpr uint8_t kKindBits = 0x0F;
  static constexpr uint8_t kContainerTag = 0x40;
  static constexpr uint8_t kMemberTag = 0x80;
  explicit TJsonBase(uint8_t tag) : tag_(tag) {}

  // Whether the node was made in the arena of a document the reader built.
  bool InArena() const { return storage_ != Storage::kHeap; }

private:
  friend class JsonArena;
  enum class Storage : uint8_t { kHeap, kArena, kArenaRoot };
  Storage storage_ = Storage::kHeap;

protected:
  uint8_t tag_ = jsBase; // the kind, with kMemberTag or kContainerTag
};

class TJsonNumber : public TJsonBase {
public:
  TJsonNumber() : TJsonBase(jsNumber) { SetValue(0); }
  explicit TJsonNumber(long double value) : TJsonBase(jsNumber) { SetValue(value); }

  void GetVariant(VARIANT& out) const override;
  void SetVariant(const VARIANT& value) override;
  TJsonKind Kind() const override;
  const char* KindName() const override;

  long double Value() const {
    long double value = 0;
    std::memcpy(&value, value_, sizeof value_);
    return value;
  }
  void SetValue(long double value) { std::memcpy(value_, &value, sizeof value_); }

private:
  // The bytes of the value that carry it (an 80-bit extended value on x86 takes 10 of its
  // 12 or 16), unaligned in the padding after the base: a number node is 24 bytes, not 32.
  static constexpr size_t kValueBytes =
      std::numeric_limits<long double>::digits == 64 ? 10 : sizeof(long double);
  unsigned char value_[kValueBytes];
};

class TJsonString : public TJsonBase {
public:
  TJsonString() : TJsonBase(jsString) {}
  explicit TJsonString(WideString value);
  ~TJsonString() override;

  void GetVariant(VARIANT& out) const override;
  void SetVariant(const VARIANT& value) override;
  TJsonKind Kind() const override;
  const char* KindName() const override;

  // A string the reader made keeps its text in the document's arena; the first call of Value
  // or MutableValue makes the WideString (safe for concurrent readers of one document).
  const WideString& Value() const;
  WideString& MutableValue();
  void SetValue(WideString value);
  // The text, without making a WideString.
  WideStringView Text() const {
    if (in_arena_.load(std::memory_order_acquire))
      return WideStringView(arena_text_, arena_length_);
    return value_ ? WideStringView(*value_) : WideStringView();
  }

private:
  friend class JsonArena;
  // The small fields first: they fit in the padding at the end of the base.
  mutable std::atomic<bool> in_arena_{false}; // the text is arena_text_; value_ is not made yet
  uint32_t arena_length_ = 0;
  const OLECHAR* arena_text_ = nullptr;
  // While the text is the arena's: that arena, which learns when the value is made. Afterwards
  // (and for strings made elsewhere) the value this node owns; none for an empty one.
  union {
    JsonArena* arena_;
    mutable WideString* value_ = nullptr;
  };
};

class TJsonBoolean : public TJsonBase {
public:
  TJsonBoolean() : TJsonBase(jsBoolean) {}
  explicit TJsonBoolean(bool value) : TJsonBase(jsBoolean), value_(value) {}

  void GetVariant(VARIANT& out) const override;
  void SetVariant(const VARIANT& value) override;
  TJsonKind Kind() const override;
  const char* KindName() const override;

  bool Value() const { return value_; }
  void SetValue(bool value) { value_ = value; }

private:
  bool value_ = false;
};

class TJsonNull : public TJsonBase {
public:
  TJsonNull() : TJsonBase(jsNull) {}
  TJsonKind Kind() const override;
  const char* KindName() const override;
};

// A name/value pair held by an object. Not a JSON value of its own: it reports jsBase.
class TJsonMember : public TJsonBase {
public:
  TJsonMember() : TJsonBase(kMemberTag) {}
  TJsonMember(WideString name, TJsonPtr value);
  ~TJsonMember() override;

  WideStringView Name() const {
    return owned_name_ ? WideStringView(*name_.owned) : WideStringView(name_.text, name_length_);
  }
  // Renaming a member lets the object that holds it index the names first (see
  // TJsonObject::LinkedIndex), so that its index keeps the names members had when adopted.
  WideString& MutableName();
  void SetName(WideString name);
  TJsonBase* Value() const { return value_.get(); }
  void SetValue(TJsonPtr value) {
    if (object_)
      NoteChange();
    value_ = std::move(value);
  }

private:
  friend class TJsonObject;
  friend class JsonArena;
  // Tells the arena of the document this member was read into, if any, that it changes.
  void NoteChange() const;

  bool owned_name_ = false; // name_.owned, not the text of the arena
  uint32_t name_length_ = 0;
  union {
    const OLECHAR* text; // the name in the arena, name_length_ code units
    WideString* owned;
  } name_{nullptr};
  TJsonPtr value_;
  const TJsonObject* object_ = nullptr; // the object that adopted this member
};

// Ordered, owning list of children; the base of arrays and objects.
class TJsonCustomList : public TJsonBase {
public:
  TJsonCustomList() : TJsonBase(kContainerTag) {}
  // A list whose child list takes its memory from `memory`.
  explicit TJsonCustomList(std::pmr::memory_resource* memory)
      : TJsonBase(kContainerTag), children_(memory) {}

  TJsonBase* GetItem(int32_t index) const override;
  void SetItem(int32_t index, TJsonPtr value) override;
  int32_t ItemCount() const override;
  // The children in order, for walks that visit them all.
  std::span<const TJsonPtr> Children() const { return {children_.data(), children_.size()}; }
  TJsonBase* GetItemByKey(const VARIANT& key) const override;

  // Operations added by lists, in their fixed slot order.
  virtual TJsonBase* GetItemAndName(int32_t index, std::string& name) const;
  // Appends and returns the new index; -1 (appending nothing) for no child.
  virtual int32_t AppendItem(TJsonPtr child);
  virtual void RemoveItem(int32_t index, bool keep_order);
  virtual int32_t FindItem(const TJsonBase* child) const;
  virtual int32_t ItemAsInteger(int32_t index) const;
  virtual std::string ItemAsString(int32_t index) const;
  virtual WideString ItemAsWideString(int32_t index) const;
  virtual double ItemAsFloat(int32_t index) const;
  virtual bool ItemAsBoolean(int32_t index) const;

  ~TJsonCustomList() override;

  // Takes over `count` children at once, in order, with one allocation; for builders that
  // know every child is valid (the reader). Objects index the names of members adopted.
  // The list owns each node from then on.
  virtual void AdoptChildren(TJsonBase* const* first, size_t count);

protected:
  // The child the typed accessors (ItemAs...) read: the element for arrays, the member's
  // value for objects.
  virtual TJsonBase* TypedChild(int32_t index) const;
  bool InRange(int32_t index) const {
    return index >= 0 && static_cast<size_t>(index) < children_.size();
  }

  std::pmr::vector<TJsonPtr> children_;

private:
  friend class JsonArena;
  friend class TJsonBase;
  JsonArena* owned_arena_ = nullptr; // the arena this list and everything below it live in

protected:
  // The arena of the document this list was read into, when a change made after reading must
  // be noted there (see JsonArena::NoteOwner); none for lists on the heap and while reading.
  JsonArena* ArenaToNote() const;
};

class TJsonList : public TJsonCustomList {
public:
  TJsonList() { tag_ = kContainerTag | jsList; }
  explicit TJsonList(std::pmr::memory_resource* memory) : TJsonCustomList(memory) {
    tag_ = kContainerTag | jsList;
  }

  TJsonKind Kind() const override;
  const char* KindName() const override;
};

class TJsonObject : public TJsonCustomList {
public:
  explicit TJsonObject(bool keep_index = true) : unindexed_(keep_index), keep_index_(keep_index) {
    tag_ = kContainerTag | jsObject;
  }
  // An object whose child list takes its memory from `memory`.
  TJsonObject(bool keep_index, std::pmr::memory_resource* memory)
      : TJsonCustomList(memory), unindexed_(keep_index), keep_index_(keep_index) {
    tag_ = kContainerTag | jsObject;
  }
  ~TJsonObject() override;

  TJsonBase* GetItemByKey(const VARIANT& key) const override;
  TJsonKind Kind() const override;
  const char* KindName() const override;
  TJsonBase* GetItemAndName(int32_t index, std::string& name) const override;
  // A member appended to an object that keeps its index has its name indexed (unless the
  // name is already there, so that look-ups find the first member of a name).
  int32_t AppendItem(TJsonPtr child) override;
  void SetItem(int32_t index, TJsonPtr value) override;
  void RemoveItem(int32_t index, bool keep_order) override;

  // Index of the first member with exactly that name (UTF-16 code units), -1 if none.
  int32_t IndexByName(WideStringView name) const;
  TJsonBase* ValueByName(WideStringView name) const;
  // Name of the member at the index; empty when there is none (with the index kept, also
  // for a later member whose name repeats an earlier one).
  WideString NameAt(int32_t index) const;
  // The value of the member named NameAt(index); none when that name is empty.
  TJsonBase* ValueAt(int32_t index) const;

  void AdoptChildren(TJsonBase* const* first, size_t count) override;
  // As AdoptChildren for callers that guarantee every child is a TJsonMember (the reader).
  void AdoptMembers(TJsonBase* const* first, size_t count);

  bool KeepIndex() const { return keep_index_; }
  const TJsonBalTree& Index() const { return LinkedIndex(); }

protected:
  TJsonBase* TypedChild(int32_t index) const override;

private:
  friend class TJsonMember;

  // The index with the names of every adopted member in it. Adopting members only notes where
  // they start; their names go into the index on the first look-up, as most documents are
  // walked in order and never searched by name. Anything that could change what the index
  // would have held (replacing, removing or appending children, renaming a member) brings the
  // index up to date first. Safe for concurrent readers of one document.
  const TJsonBalTree& LinkedIndex() const;
  void NoteUnindexed(size_t first);

  // Made by the first look-up. Its memory is the heap's, so that readers of a document never
  // allocate in its arena.
  mutable std::unique_ptr<TJsonBalTree> index_;
  mutable size_t unindexed_from_ = 0;
  mutable std::atomic<bool> unindexed_; // children from unindexed_from_ on are not indexed yet
  bool keep_index_;
};

inline void TJsonMember::SetName(WideString name) {
  MutableName() = std::move(name);
}

// Reader and writer.
class TJson {
public:
  // Deepest nesting of arrays and objects the reader accepts; a deeper text yields no
  // document, so hostile input cannot exhaust the stack of the code that walks or frees it.
  static constexpr int kMaxDepth = 1024;

  // Reads one value from 8-bit text (UTF-8 inside strings). No document on any error.
  static TJsonPtr Parse(std::string_view text);
  // Compact JSON text of the value and everything below it.
  static std::string Serialize(const TJsonBase* value);
  // The same text as UTF-16 code units, as the reader would decode it, without the 8-bit step.
  static WideString SerializeWide(const TJsonBase* value);
};

} // namespace kestrel::json
