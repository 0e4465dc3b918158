// The per-thread pointer to the module state of the call in progress.
#include "python/module_state.h"

namespace korvane::py {
namespace {

// Per thread, since each thread runs its own calls; a plain pointer, so no
// constructor or destructor runs for it.
thread_local ModuleState* t_current_state = nullptr;

}  // namespace

ModuleState* current_state() noexcept { return t_current_state; }

StateScope::StateScope(ModuleState* state) noexcept : saved_(t_current_state) {
  t_current_state = state;
}

StateScope::~StateScope() { t_current_state = saved_; }

}  // namespace korvane::py
