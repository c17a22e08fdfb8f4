/*
** Allocation failure for the client environment's tests. A program linked
** with dvz_oslib_failing_alloc has malloc, calloc, realloc and strdup
** wrapped at link time (--wrap): every call made by the program's own code
** and the libraries linked into it statically (the client environment
** among them) passes through a counter, while the C library's internal
** allocations do not. Outside a FailingAlloc nothing fails.
*/
#ifndef DVZ_TESTS_OSLIB_FAILING_ALLOC_H
#define DVZ_TESTS_OSLIB_FAILING_ALLOC_H

namespace oslib_test {

/* While alive, the fail_at-th allocation call (1-based) returns NULL, and
** with sticky every later one too. Not nested. */
class FailingAlloc {
 public:
  explicit FailingAlloc(int fail_at, bool sticky = false);
  ~FailingAlloc();
  FailingAlloc(const FailingAlloc &) = delete;
  FailingAlloc &operator=(const FailingAlloc &) = delete;

  int calls() const; /* allocation calls so far */
  int failures() const; /* of them, refused */
};

}  // namespace oslib_test

#endif
