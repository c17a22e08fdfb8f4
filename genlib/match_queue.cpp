/*
** match_queue.cpp: the ring of wide characters (each with its length in
** bytes) that lets a value be read ahead and un-read while it is matched
** character by character.
*/
#include <stdlib.h>

#include "match_internal.h"

extern "C" {

wcfifo *init_wcfifo(int capacity) {
  if (capacity < 1) capacity = 1;
  auto *q = static_cast<wcfifo *>(calloc(1, sizeof(wcfifo)));
  if (q == nullptr) return nullptr;
  q->chars = static_cast<gl_wchar *>(calloc(static_cast<size_t>(capacity), sizeof(gl_wchar)));
  q->lens = static_cast<int32_t *>(calloc(static_cast<size_t>(capacity), sizeof(int32_t)));
  if (q->chars == nullptr || q->lens == nullptr) {
    destory_wcfifo(q);
    return nullptr;
  }
  q->capacity = capacity;
  return q;
}

int push_to_wcfifo(wcfifo *q, gl_wchar wc, int len) {
  if (q->count >= q->capacity) return -1;
  q->chars[q->wr] = wc;
  q->lens[q->wr] = len;
  q->wr = (q->wr + 1) % q->capacity;
  ++q->count;
  return 0;
}

/* An empty queue is left as it is, so that un-reading counts only the
** characters really returned. */
gl_wchar pop_wcfifo(wcfifo *q, int *len) {
  if (q->count <= 0) {
    if (len != nullptr) *len = 0;
    return 0;
  }
  gl_wchar wc = q->chars[q->rd];
  if (len != nullptr) *len = q->lens[q->rd];
  q->rd = (q->rd + 1) % q->capacity;
  --q->count;
  return wc;
}

void depop_wcfifo(wcfifo *q, int n) {
  if (n <= 0) return;
  if (n > q->capacity - q->count) n = q->capacity - q->count;
  q->rd = ((q->rd - n) % q->capacity + q->capacity) % q->capacity;
  q->count += n;
}

void flush_wcfifo(wcfifo *q) {
  q->rd = 0;
  q->wr = 0;
  q->count = 0;
}

void destory_wcfifo(wcfifo *q) {
  if (q == nullptr) return;
  free(q->chars);
  free(q->lens);
  free(q);
}
}
