/*
** hash_table.cpp: a string-keyed chained hash table. The runtime keeps its
** descriptor names (13 buckets) and cursor names (128 buckets) in one.
**
** Items belong to the caller: the first field of each is a pointer to its
** terminated key. The table owns its bucket array and chain nodes only. A
** key may be inserted more than once; the newest entry comes first in its
** chain, so deleting it makes the older one visible again.
*/
#include <cstdint>
#include <cstdlib>

#include "gen_strings.h"
#include "os_stored.h"

namespace {

/* The key of an item: its first field. */
const char *key_of(const void *item) { return *static_cast<const char *const *>(item); }

/* The link that points at the first node with this key, or at the chain's
** end when there is none. */
ghashnode **find_link(ghashtab *table, const char *key) {
  ghashnode **link = &table->buckets[hashpjw(key, table->nbuckets)];
  while (*link != nullptr && stcmpr(key_of((*link)->item), key) != 0)
    link = &(*link)->next;
  return link;
}

}  // namespace

extern "C" {

int hashpjw(const char *key, int n) {
  uint16_t h = 0;
  for (const unsigned char *c = reinterpret_cast<const unsigned char *>(key); *c != 0; ++c) {
    h = static_cast<uint16_t>((h << 4) + *c);
    uint16_t g = h & 0xF000u;
    if (g != 0) h = static_cast<uint16_t>(h ^ (g >> 8) ^ g);
  }
  return h % n;
}

ghashtab *ghashcreat(int n) {
  if (n < 1) return nullptr;
  auto *table = static_cast<ghashtab *>(std::malloc(sizeof(ghashtab)));
  if (table == nullptr) return nullptr;
  table->buckets =
      static_cast<ghashnode **>(std::calloc(static_cast<std::size_t>(n), sizeof(ghashnode *)));
  if (table->buckets == nullptr) {
    std::free(table);
    return nullptr;
  }
  table->nbuckets = n;
  return table;
}

int ghashins(ghashtab *table, void *item) {
  if (table == nullptr) return 0;
  auto *node = static_cast<ghashnode *>(std::malloc(sizeof(ghashnode)));
  if (node == nullptr) return 0;
  ghashnode **head = &table->buckets[hashpjw(key_of(item), table->nbuckets)];
  node->item = item;
  node->next = *head;
  *head = node;
  return 1;
}

void *ghashlook(ghashtab *table, const char *key) {
  if (table == nullptr) return nullptr;
  ghashnode *node = *find_link(table, key);
  return node != nullptr ? node->item : nullptr;
}

void *ghashdel(ghashtab *table, const char *key) {
  if (table == nullptr) return nullptr;
  ghashnode **link = find_link(table, key);
  ghashnode *node = *link;
  if (node == nullptr) return nullptr;
  *link = node->next;
  void *item = node->item;
  std::free(node);
  return item;
}

void ghashremove(ghashtab *table) {
  if (table == nullptr) return;
  for (int i = 0; i < table->nbuckets; ++i) {
    ghashnode *node = table->buckets[i];
    while (node != nullptr) {
      ghashnode *next = node->next;
      std::free(node);
      node = next;
    }
  }
  std::free(table->buckets);
  std::free(table);
}

}  // extern "C"
