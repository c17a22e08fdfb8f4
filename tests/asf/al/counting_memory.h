/*
** A memory table for the association services' tests: counts the blocks
** handed out and given back, and fails the N-th allocation when asked.
** Installed for the life of the object; the previous table comes back.
*/
#ifndef DVZ_TESTS_ASF_COUNTING_MEMORY_H
#define DVZ_TESTS_ASF_COUNTING_MEMORY_H

#include "asf_memory.h"
#include "os_wrappers.h"

namespace asf_test {

class CountingMemory {
 public:
  /* fail_at: the allocation (1-based) that returns null; 0 for none. */
  explicit CountingMemory(int fail_at = 0) : previous_(asf_memory) {
    state().allocations = 0;
    state().outstanding = 0;
    state().fail_at = fail_at;
    asf_memory = &table;
  }
  ~CountingMemory() { asf_memory = previous_; }
  CountingMemory(const CountingMemory &) = delete;
  CountingMemory &operator=(const CountingMemory &) = delete;

  int allocations() const { return state().allocations; }
  int outstanding() const { return state().outstanding; }

 private:
  struct counters {
    int allocations;
    int outstanding;
    int fail_at;
  };
  static counters &state() {
    static counters c;
    return c;
  }
  static void *alloc(int pool, size_t size) {
    if (++state().allocations == state().fail_at) return nullptr;
    void *block = meAlloc(pool, size);
    if (block != nullptr) ++state().outstanding;
    return block;
  }
  static int release(int pool, void *block) {
    int rc = meFree(pool, block);
    if (rc == 0) --state().outstanding;
    return rc;
  }
  static constexpr asf_memory_seam table = {alloc, release};
  const asf_memory_seam *previous_;
};

}  // namespace asf_test

#endif
