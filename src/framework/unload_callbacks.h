// Procedures to run before the library is released: the host's release-all request
// (FreePluginInstance with kind 6 / 0xFF01) runs them once, in registration order.
#pragma once

namespace kestrel {

using UnloadProc = void (*)();

// Adds a procedure; the list is created on first registration.
void RegisterUnloadCallback(UnloadProc procedure);
// Takes the list out (later registrations start a new one), runs every procedure in order
// under the list's lock ignoring any failure, and frees the list.
void RunUnloadCallbacks() noexcept;
// Frees the list without running it (library unload).
void DiscardUnloadCallbacks() noexcept;

} // namespace kestrel
