#include "registry_sandbox.h"

#include "helper_process.h"
#include "platform/posix/registry_file_ops.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace kestrel::testing {

struct RegistrySandbox::State {
  std::string folder;
};

RegistrySandbox::RegistrySandbox() : state_(new State{MakeTempFolder("registry")}) {
  setenv("KESTREL_REGISTRY", state_->folder.c_str(), 1);
  setenv("KESTREL_HKLM_WRITABLE", "1", 1);
}

RegistrySandbox::~RegistrySandbox() {
  platform::RestoreRegistryFileOps();
  unsetenv("KESTREL_REGISTRY");
  unsetenv("KESTREL_HKLM_WRITABLE");
  std::error_code ignored;
  std::filesystem::remove_all(state_->folder, ignored);
  delete state_;
}

} // namespace kestrel::testing
