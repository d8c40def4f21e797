// Holds one reference to a boundary interface (a struct whose first field points to a table
// with AddRef and Release in slots 1 and 2) and releases it when it goes.
#pragma once

#include <utility>

namespace kestrel {

template <typename Interface> class InterfaceRef {
public:
  InterfaceRef() = default;
  // Takes over a reference the caller already holds.
  static InterfaceRef Adopt(Interface* pointer) {
    InterfaceRef ref;
    ref.pointer_ = pointer;
    return ref;
  }
  // Adds a reference of its own.
  static InterfaceRef Share(Interface* pointer) {
    if (pointer)
      pointer->lpVtbl->AddRef(pointer);
    return Adopt(pointer);
  }
  InterfaceRef(const InterfaceRef& other) : pointer_(Share(other.pointer_).Detach()) {}
  InterfaceRef(InterfaceRef&& other) noexcept : pointer_(other.Detach()) {}
  InterfaceRef& operator=(InterfaceRef other) noexcept {
    std::swap(pointer_, other.pointer_);
    return *this;
  }
  ~InterfaceRef() { Reset(); }

  Interface* Get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  // The address to hand to a method that returns a new reference through an out parameter.
  Interface** Out() {
    Reset();
    return &pointer_;
  }
  Interface* Detach() { return std::exchange(pointer_, nullptr); }
  void Reset() {
    if (Interface* pointer = Detach())
      pointer->lpVtbl->Release(pointer);
  }

private:
  Interface* pointer_ = nullptr;
};

} // namespace kestrel
