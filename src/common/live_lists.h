// The parameter lists of this library that are alive, so that a list pointer a host hands over
// can be recognised without probing its memory: a list in the table was built here and has not
// been destroyed, so its bytes are readable. A pointer not in the table is probed as before.
//
// Lists built while a work scope is open on the thread (the module's own per-block lists inside
// a packet call) stay out of the table: no host can hand them back, and entering them would cost
// a lock per block.
#pragma once

namespace kestrel::live_lists {

void Enter(const void* list);
void Leave(const void* list) noexcept;
bool Contains(const void* list) noexcept;

// Whether lists built now on this thread go into the table.
bool Listing() noexcept;

class WorkScope {
public:
  WorkScope() noexcept;
  ~WorkScope();
  WorkScope(const WorkScope&) = delete;
  WorkScope& operator=(const WorkScope&) = delete;
};

} // namespace kestrel::live_lists
