/*
** Host-service doubles of the glslib tests (see host_doubles.h).
*/
#include "host_doubles.h"

#include <cstdio>
#include <cstdlib>
#include <set>

namespace glstest {

namespace {

struct FopenState {
  std::vector<std::string> tried;
  bool open_for_real = true;
} fopen_state;

FILE *recording_fopen(const char *name, const char *mode) {
  fopen_state.tried.emplace_back(name);
  return fopen_state.open_for_real ? std::fopen(name, mode) : nullptr;
}

struct AllocState {
  int fail_at = 0;
  bool sticky = false;
  int calls = 0;
  int failures = 0;
  std::set<void *> live;
  bool freed_unknown = false;
} alloc_state;

void *failing_malloc(size_t size) {
  ++alloc_state.calls;
  if (alloc_state.fail_at > 0 &&
      (alloc_state.calls == alloc_state.fail_at ||
       (alloc_state.sticky && alloc_state.calls > alloc_state.fail_at))) {
    ++alloc_state.failures;
    return nullptr;
  }
  void *block = std::malloc(size);
  if (block != nullptr) alloc_state.live.insert(block);
  return block;
}

void counting_free(void *block) {
  if (alloc_state.live.erase(block) == 0) alloc_state.freed_unknown = true;
  std::free(block);
}

std::map<std::string, std::string> env_table;

char *table_getenv(const char *name) {
  auto it = env_table.find(name);
  return it == env_table.end() ? nullptr : it->second.data();
}

}  // namespace

ScopedSlot::ScopedSlot(int slot, gl_ext_funcptr function, int)
    : slot_(slot), previous_(_gl_get_ext_funcptr(slot)) {
  gl_setextfunc(nullptr, slot, function);
}

ScopedSlot::~ScopedSlot() { gl_setextfunc(nullptr, slot_, previous_); }

RecordingFopen::RecordingFopen(bool open_for_real) : slot_(GL_EXT_FOPEN, recording_fopen) {
  fopen_state = FopenState {};
  fopen_state.open_for_real = open_for_real;
}
RecordingFopen::~RecordingFopen() = default;
const std::vector<std::string> &RecordingFopen::tried() const { return fopen_state.tried; }

FailingAllocator::FailingAllocator(int fail_at, bool sticky)
    : malloc_slot_(GL_EXT_MALLOC, failing_malloc), free_slot_(GL_EXT_FREE, counting_free) {
  alloc_state = AllocState {};
  alloc_state.fail_at = fail_at;
  alloc_state.sticky = sticky;
}
FailingAllocator::~FailingAllocator() = default;
int FailingAllocator::calls() const { return alloc_state.calls; }
int FailingAllocator::failures() const { return alloc_state.failures; }
long FailingAllocator::outstanding() const { return static_cast<long>(alloc_state.live.size()); }
bool FailingAllocator::freed_unknown() const { return alloc_state.freed_unknown; }

TableGetenv::TableGetenv(std::map<std::string, std::string> values)
    : slot_(GL_EXT_GETENV, table_getenv) {
  env_table = std::move(values);
}
TableGetenv::~TableGetenv() { env_table.clear(); }
void TableGetenv::set(const std::string &name, const std::string &value) {
  env_table[name] = value;
}
void TableGetenv::unset(const std::string &name) { env_table.erase(name); }

}  // namespace glstest
