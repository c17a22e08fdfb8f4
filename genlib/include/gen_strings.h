/*
** gen_strings.h: small general services of the value library. A
** string-keyed chained hash table (the runtime's descriptor and cursor
** name lists), the 6-bit text code that carries binary data as printable
** text (alphabet A-Z a-z 0-9 "." "_", no padding), and three string
** helpers. C linkage throughout.
*/
#ifndef DVZ_GENLIB_GEN_STRINGS_H
#define DVZ_GENLIB_GEN_STRINGS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A chain node: the item belongs to the caller, the node to the table. */
typedef struct ghashnode {
  struct ghashnode *next;
  void *item; /* its first field points to its terminated key */
} ghashnode;

/* A string-keyed table of `nbuckets` chains; the newest entry of a key
** comes first in its chain. */
typedef struct ghashtab {
  int32_t nbuckets;
  ghashnode **buckets;
} ghashtab;

/* Bucket index 0 .. n-1 of key (16-bit hash modulo n). */
int hashpjw(const char *key, int n);
/* A new table with n empty buckets; NULL when n < 1 or memory is short. */
ghashtab *ghashcreat(int n);
/* Links item at the head of its key's chain: 1, or 0 for a NULL table or
** no memory. */
int ghashins(ghashtab *table, void *item);
/* The newest item whose key equals key (byte comparison); NULL when
** absent or for a NULL table. */
void *ghashlook(ghashtab *table, const char *key);
/* Unlinks the newest item with that key and returns it (not freed); NULL
** when absent. */
void *ghashdel(ghashtab *table, const char *key);
/* Frees the nodes, the buckets and the table, never the items; NULL is
** ignored. */
void ghashremove(ghashtab *table);

/* Writes the 6-bit text of count bytes into text: count + (count + 2) / 3
** characters, not terminated. */
void conbinto6(const char *bytes, char *text, int count);
/* Decodes count characters of 6-bit text into bytes: 3 bytes per 4
** characters, a final 2 or 3 characters give 1 or 2 bytes. Characters
** outside the alphabet (any byte 0x80 and above too) count as 0. */
void con6tobin(const char *text, char *bytes, int count);

/* 1 when text is empty or holds only white space, else 0. */
int strisblank(const char *text);
/* qsort comparer of two string pointers by the current locale's order:
** negative, 0 or positive. */
int frmcmpr(const void *a, const void *b);
/* Drops each of the n entries equal to the one before it (the first is
** compared with " "); returns the new count. */
int compact(char **list, int n);

#ifdef __cplusplus
}
#endif

#endif
