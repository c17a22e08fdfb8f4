/*
** asf_arena.h: the serialisation arena (`opblock`) into which every layer
** writes the images of its records for the hand-over of an association
** (al/handover.h), and the host-order word reader and writer those images
** use. Images cross only to a program on the same host, so words keep the
** host's byte order; every read is checked against the arena's bytes.
** Implemented with the hand-over (al/handover.cpp). C linkage.
*/
#ifndef DVZ_ASF_ARENA_H
#define DVZ_ASF_ARENA_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- The serialisation arena. ---- */

/* Flag bit 0: no alignment padding. */
#define OP_NOALIGN 1u

typedef struct opblock {
  uint32_t flags; /* OP_NOALIGN */
  int32_t pool; /* pool of the arena record and of the strings it copies out */
  char *buf; /* the caller's buffer */
  int32_t size; /* its size */
  int32_t used; /* offset of the first unused byte */
} opblock;

/* A new arena over size bytes at buf (not owned), or null: memory short,
** size negative, or (without OP_NOALIGN) buf not a multiple of 4. */
opblock *opInit(uint32_t flags, int pool, void *buf, int32_t size);
/* Frees the arena record (not its buffer): 0, or -1 for none. */
int opTerm(opblock *op);
/* Clears errno; the address of the next n bytes with their offset in *off;
** the used offset grows by n (rounded up to a multiple of 4 without
** OP_NOALIGN, never past the size). Null with *off -1: n not positive or
** no arena; n more than the room left (errno 12, nothing moves). */
void *opAlloc(opblock *op, int32_t n, int32_t *off);
/* The first unused byte (its offset in *used), or null when the arena is
** full or missing. */
void *opNext(opblock *op, int32_t *used);
/* Stores s (a length word counting the NUL, then the bytes): the address
** of the stored bytes, *off the offset of the length word, *len the
** length. A null s stores length 0 and returns null. Null with *off -1
** when there is no room. */
char *opStrAlloc(opblock *op, const char *s, int32_t *off, int32_t *len);
/* A new copy (from the arena's pool) of the string stored at off, its
** length in *len; null for length 0, off -1, a string that does not lie
** whole within the arena's bytes or lacks its final NUL, or memory. With
** advance 1 and off the used offset, the used offset moves past it. */
char *opStrDup(opblock *op, int32_t off, int32_t *len, int advance);
/* opStrAlloc with the offset only: 0, or -1 when there is no room. */
int svOpStr(opblock *op, const char *s, int32_t *off);
/* The string at off (advancing when off is the used offset) into *s
** (null for a null string): 0, or -1 (malformed, or memory). */
int getOpStr(opblock *op, int32_t off, char **s);

#ifdef __cplusplus
}

#include <cstring>

/* A host-order 32-bit word of an image at p (any alignment), and its
** store: the one pair every saver and restorer of an image uses. */
inline int32_t ho_ld32(const void *p) {
  int32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void ho_st32(void *p, int32_t v) { std::memcpy(p, &v, sizeof v); }
#endif

#endif
