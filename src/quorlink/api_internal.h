// Internals of the C API layer that tests reach directly.
#pragma once

#include "executor.h"

#include <memory>

namespace quorlink {

// Replaces the process's executor (and drops every open handle). Tests only:
// the real library picks its backend once, from the environment.
void installExecutorForTesting(std::unique_ptr<Executor> executor);

} // namespace quorlink
