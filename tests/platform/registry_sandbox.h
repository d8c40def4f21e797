// A registry for one test: on POSIX a store folder of its own with HKEY_LOCAL_MACHINE writable,
// on Windows the system registry itself (tests keep to keys with unique names).
#pragma once

namespace kestrel::testing {

class RegistrySandbox {
public:
  RegistrySandbox();
  ~RegistrySandbox();
  RegistrySandbox(const RegistrySandbox&) = delete;
  RegistrySandbox& operator=(const RegistrySandbox&) = delete;

private:
  struct State;
  State* state_;
};

} // namespace kestrel::testing
