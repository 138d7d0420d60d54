// Runs a piece of a test on a thread with a small stack, so that code whose
// stack use grows with its input (a recursion over a deep tree) fails there
// at once instead of passing on a large main-thread stack.
#pragma once
#include <cstddef>
#include <functional>

namespace qev::test {

// Runs body on a new thread with a stack of the given bytes and waits for it.
// False when the thread could not be started (body did not run).
bool RunOnSmallStack(size_t stackBytes, const std::function<void()>& body);

}  // namespace qev::test
