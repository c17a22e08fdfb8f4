/*
** The link-time wrappers of failing_alloc.h: each counts the call while a
** FailingAlloc is alive and refuses the ones it names, else hands the call
** to the real function (the sanitizer's, in its builds).
*/
#include "failing_alloc.h"

#include <cstddef>

extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t count, size_t size);
void *__real_realloc(void *block, size_t size);
char *__real_strdup(const char *text);
}

namespace {

struct counter {
  bool armed = false;
  bool sticky = false;
  int fail_at = 0;
  int calls = 0;
  int failures = 0;
};
counter state;

/* Counts one call: true when it is to fail. */
bool refuse() {
  if (!state.armed) return false;
  ++state.calls;
  if (state.calls == state.fail_at || (state.sticky && state.calls > state.fail_at)) {
    ++state.failures;
    return true;
  }
  return false;
}

}  // namespace

extern "C" {

void *__wrap_malloc(size_t size) { return refuse() ? nullptr : __real_malloc(size); }
void *__wrap_calloc(size_t count, size_t size) {
  return refuse() ? nullptr : __real_calloc(count, size);
}
void *__wrap_realloc(void *block, size_t size) {
  return refuse() ? nullptr : __real_realloc(block, size);
}
char *__wrap_strdup(const char *text) { return refuse() ? nullptr : __real_strdup(text); }

}  // extern "C"

namespace oslib_test {

FailingAlloc::FailingAlloc(int fail_at, bool sticky) {
  state = counter {true, sticky, fail_at, 0, 0};
}
FailingAlloc::~FailingAlloc() { state.armed = false; }
int FailingAlloc::calls() const { return state.calls; }
int FailingAlloc::failures() const { return state.failures; }

}  // namespace oslib_test
