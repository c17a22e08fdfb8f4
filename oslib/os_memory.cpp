/*
** Memory, lock and sleep wrappers of the client library. The association
** services take their records through the meAlloc family (the pool
** argument has no effect). The system runs one thread, so the lock and
** condition operations do nothing; they exist so that the callers keep
** their multi-threaded shape. Sleeping goes through the clock seam.
*/
#include <cstdlib>

#include "os_seams.h"
#include "os_wrappers.h"

extern "C" {

void *meAlloc(int, size_t size) { return calloc(size, 1); }

int meFree(int, void *block) {
  if (block == nullptr) return -1;
  free(block);
  return 0;
}

void *meRealloc(int, void *block, size_t size) { return realloc(block, size); }

int dvzOS_mutexInit(dvzOS_mutex_t *, const char *) { return 0; }
int dvzOS_mutexDestroy(dvzOS_mutex_t *) { return 0; }
int dvzOS_mutexLock(dvzOS_mutex_t *) { return 0; }
int dvzOS_mutexTryLock(dvzOS_mutex_t *) { return 0; }
int dvzOS_mutexUnLock(dvzOS_mutex_t *) { return 0; }
int dvzOS_recursive_mutexInit(dvzOS_mutex_t *, const char *) { return 0; }
int dvzOS_recursive_mutexDestroy(dvzOS_mutex_t *) { return 0; }
int dvzOS_recursive_mutexLock(dvzOS_mutex_t *) { return 0; }
int dvzOS_recursive_mutexUnLock(dvzOS_mutex_t *) { return 0; }

int dvzOS_condInit(dvzOS_cond_t *condition, const char *) {
  if (condition != nullptr) *condition = 0;
  return 0;
}

int dvzOS_condWait(dvzOS_cond_t *, dvzOS_mutex_t *) { return 0; }
int dvzOS_condSignal(dvzOS_cond_t *) { return 0; }
int dvzOS_condDestroy(dvzOS_cond_t *) { return 0; }

unsigned dvzOS_sleep(unsigned seconds) { return os_clock->sleep(seconds); }

}  // extern "C"
