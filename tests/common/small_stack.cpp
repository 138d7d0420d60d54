#include "tests/common/small_stack.h"

#include <pthread.h>

namespace qev::test {

namespace {

void* RunBody(void* body) {
  (*static_cast<const std::function<void()>*>(body))();
  return nullptr;
}

}  // namespace

bool RunOnSmallStack(size_t stackBytes, const std::function<void()>& body) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  pthread_t thread;
  const bool started = pthread_attr_setstacksize(&attr, stackBytes) == 0 &&
                       pthread_create(&thread, &attr, RunBody, const_cast<std::function<void()>*>(&body)) == 0;
  pthread_attr_destroy(&attr);
  if (started) pthread_join(thread, nullptr);
  return started;
}

}  // namespace qev::test
