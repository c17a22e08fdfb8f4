/*
** Copies and freeing of the name service's records: a string copy, an
** entry with its six strings, a whole registry. Called by the connection
** manager (which keeps a copy of the entry it connected through), the
** name service and the runtime after the directory service.
*/
#include <cstring>

#include "asf_al.h"
#include "asf_memory.h"

namespace {

/* The six strings an entry owns, in the order they are copied. */
constexpr char *NSEntry::*entry_strings[] = {
    &NSEntry::servername, &NSEntry::dbpath, &NSEntry::addrtext, &NSEntry::user, &NSEntry::password};

/* Frees the strings of e (the communication-support text included) and
** clears them. */
void free_entry_strings(int pool, NSEntry *e) {
  for (char *NSEntry::*field : entry_strings) {
    if (e->*field != nullptr) asf_free(pool, e->*field);
    e->*field = nullptr;
  }
  if (e->options.csm != nullptr) asf_free(pool, e->options.csm);
  e->options.csm = nullptr;
}

}  // namespace

extern "C" {

char *meStrDup(int pool, const char *s) {
  if (s == nullptr) return nullptr;
  size_t n = std::strlen(s) + 1;
  auto *copy = static_cast<char *>(asf_alloc(pool, n));
  if (copy != nullptr) std::memcpy(copy, s, n);
  return copy;
}

NSEntry *dupNSEntry(int pool, const NSEntry *entry) {
  if (entry == nullptr) return nullptr;
  auto *copy = static_cast<NSEntry *>(asf_alloc(pool, sizeof(NSEntry)));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, entry, sizeof(NSEntry));
  for (char *NSEntry::*field : entry_strings)
    copy->*field = nullptr;
  copy->options.csm = nullptr;
  bool failed = false;
  for (char *NSEntry::*field : entry_strings) {
    if (entry->*field == nullptr) continue;
    copy->*field = meStrDup(pool, entry->*field);
    if (copy->*field == nullptr) failed = true;
    if (failed) break;
  }
  if (!failed && entry->options.csm != nullptr) {
    copy->options.csm = meStrDup(pool, entry->options.csm);
    failed = copy->options.csm == nullptr;
  }
  if (failed) {
    frNSEntry(pool, copy, 1);
    return nullptr;
  }
  return copy;
}

void frNSEntry(int pool, NSEntry *entry, int freeentry) {
  if (entry == nullptr) return;
  free_entry_strings(pool, entry);
  if (freeentry) asf_free(pool, entry);
}

void ASF_FreeNSReg(NSReg *reg) {
  if (reg == nullptr) return;
  int count = reg->count > NS_MAX_ENTRIES ? NS_MAX_ENTRIES : reg->count;
  for (int i = 0; i < count; ++i)
    free_entry_strings(asf_pool_assoc, &reg->entry[i]);
  asf_free(asf_pool_assoc, reg);
}

}  // extern "C"
