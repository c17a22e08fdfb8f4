/*
** Host-service doubles for the glslib tests, installed in the library's
** host-service table with gl_setextfunc for the lifetime of an object and
** removed again (the slot's previous function restored) when it goes.
** The table is process-wide: only one double per slot at a time.
*/
#ifndef DVZ_TESTS_GLSLIB_HOST_DOUBLES_H
#define DVZ_TESTS_GLSLIB_HOST_DOUBLES_H

#include "glslib.h"

#include <map>
#include <string>
#include <vector>

namespace glstest {

/* Installs a function in a slot, restoring the previous one afterwards. */
class ScopedSlot {
 public:
  template <typename Fn>
  ScopedSlot(int slot, Fn function)
      : ScopedSlot(slot, reinterpret_cast<gl_ext_funcptr>(function), 0) {}
  ~ScopedSlot();
  ScopedSlot(const ScopedSlot &) = delete;
  ScopedSlot &operator=(const ScopedSlot &) = delete;

 private:
  ScopedSlot(int slot, gl_ext_funcptr function, int);
  int slot_;
  gl_ext_funcptr previous_;
};

/* Slot 7: records every path the library tries to open; opens it for real
** (mode as asked) unless told to fail every open. */
class RecordingFopen {
 public:
  explicit RecordingFopen(bool open_for_real = true);
  ~RecordingFopen();
  const std::vector<std::string> &tried() const;

 private:
  ScopedSlot slot_;
};

/* Slots 13 and 8: an allocator that fails at the fail_at-th call (1-based;
** 0 never fails; with sticky every later call fails too) and a free that
** keeps account, so tests can see every block come back. */
class FailingAllocator {
 public:
  explicit FailingAllocator(int fail_at = 0, bool sticky = false);
  ~FailingAllocator();
  int calls() const; /* allocation calls so far */
  int failures() const; /* of them, refused */
  long outstanding() const; /* blocks handed out and not yet freed */
  bool freed_unknown() const; /* a block this allocator never made came back */

 private:
  ScopedSlot malloc_slot_;
  ScopedSlot free_slot_;
};

/* Slot 0: getenv over a table of the test's own. */
class TableGetenv {
 public:
  explicit TableGetenv(std::map<std::string, std::string> values = {});
  ~TableGetenv();
  void set(const std::string &name, const std::string &value);
  void unset(const std::string &name);

 private:
  ScopedSlot slot_;
};

}  // namespace glstest

#endif
