#include "registry_sandbox.h"

namespace kestrel::testing {

struct RegistrySandbox::State {};

RegistrySandbox::RegistrySandbox() : state_(nullptr) {}

RegistrySandbox::~RegistrySandbox() = default;

} // namespace kestrel::testing
