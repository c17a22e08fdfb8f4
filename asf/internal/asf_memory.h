/*
** asf_memory.h: the memory seam of the association services. Every record
** they allocate goes through asf_memory, which starts at the client
** environment's meAlloc/meFree; a test installs a table of its own (for
** instance one whose N-th allocation fails) and puts the old one back.
*/
#ifndef DVZ_ASF_MEMORY_H
#define DVZ_ASF_MEMORY_H

#include <cstddef>

struct asf_memory_seam {
  void *(*alloc)(int pool, size_t size); /* zeroed memory, or null */
  int (*release)(int pool, void *block); /* 0, or -1 for null */
};
extern const asf_memory_seam asf_system_memory;
extern const asf_memory_seam *asf_memory;

/* Pools of the association services' records (they have no effect). */
enum { asf_pool_global = 0, asf_pool_assoc = 1, asf_pool_temp = 2 };

inline void *asf_alloc(int pool, size_t size) { return asf_memory->alloc(pool, size); }
inline int asf_free(int pool, void *block) { return asf_memory->release(pool, block); }

#endif
