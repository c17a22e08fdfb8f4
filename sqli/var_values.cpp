/*
** var_values.cpp: the dvz_var calls on variable-length host values. A
** program holds a pointer to a `dvz_var_rec` and passes its address; the
** record says whether its buffer is the runtime's (which may then grow it)
** and whether the value is NULL. Buffers come from the runtime's memory
** seam. Each public call clears the status first and ends with it.
*/
#include <cstring>

#include "sqli_coll_internal.h"
#include "sqli_collection.h"
#include "sqli_cursors.h"
#include "sqli_dynamic.h"
#include "sqli_errors.h"
#include "sqli_seams.h"

namespace {

constexpr int e_null_record = -1822; /* null record pointer or bad argument */
constexpr int e_null_record_read = -1820; /* null record pointer (reads, setlen) */
constexpr int e_too_large = -1823; /* value larger than a program-owned buffer */

/* Frees the buffer of rec and clears length, size and buffer. */
void drop_buffer(dvz_var_rec *rec) {
  sqli_release(rec->data);
  rec->data = nullptr;
  rec->length = 0;
  rec->size = 0;
}

/* Replaces the buffer of rec with a zeroed one of size bytes (the old
** contents dropped). 0 or -406, rec unchanged then. */
int fresh_buffer(dvz_var_rec *rec, int32_t size) {
  auto *block = static_cast<char *>(sqli_alloc(static_cast<size_t>(size)));
  if (block == nullptr) return SQLI_E_NOMEM;
  sqli_release(rec->data);
  rec->data = block;
  rec->size = size;
  return 0;
}

/* Runs op on the record at var after clearing the status; op returns 0
** or an SQLCODE, which is recorded. The SQLCODE afterwards. */
template <typename Op>
int var_call(Op op) {
  int32_t early = 0;
  sqli_tcb *tcb = sqli_cursor_call_begin(&early);
  if (tcb == nullptr) return early;
  const int code = op();
  return code != 0 ? sqli_cursor_call_fail(code, tcb) : sqli_cursor_call_finish(tcb);
}

}  // namespace

int sqli_private_var_init(void **record) {
  if (record == nullptr) return e_null_record;
  if (*record != nullptr) return 0;
  auto *rec = static_cast<dvz_var_rec *>(sqli_alloc(sizeof(dvz_var_rec)));
  if (rec == nullptr) return SQLI_E_NOMEM;
  rec->flags = DVZ_VAR_RUNTIME;
  *record = rec;
  return 0;
}

int sqli_private_var_dealloc(void **record) {
  if (record == nullptr || *record == nullptr) return e_null_record;
  drop_buffer(static_cast<dvz_var_rec *>(*record));
  return 0;
}

extern "C" {

int dvz_var_init(dvz_var_rec **var) {
  return var_call([&]() -> int { return sqli_private_var_init(reinterpret_cast<void **>(var)); });
}

int dvz_var_flag(dvz_var_rec **var, int flag) {
  return var_call([&]() -> int {
    if (var == nullptr || (flag != 0 && flag != 1)) return e_null_record;
    if (const int code = sqli_private_var_init(reinterpret_cast<void **>(var)); code != 0)
      return code;
    dvz_var_rec *rec = *var;
    if (flag == 1) {
      rec->flags |= DVZ_VAR_RUNTIME;
    } else {
      rec->flags &= ~DVZ_VAR_RUNTIME;
      drop_buffer(rec);
    }
    return 0;
  });
}

int dvz_var_alloc(dvz_var_rec **var, int32_t size) {
  return var_call([&]() -> int {
    if (var == nullptr || size < 1) return e_null_record;
    if (const int code = sqli_private_var_init(reinterpret_cast<void **>(var)); code != 0)
      return code;
    dvz_var_rec *rec = *var;
    if (rec->data == nullptr || rec->size < size) {
      if (const int code = fresh_buffer(rec, size); code != 0) return code;
    } else {
      std::memset(rec->data, 0, static_cast<size_t>(size));
    }
    rec->length = size;
    rec->size = size;
    return 0;
  });
}

int dvz_var_setdata(dvz_var_rec **var, const char *data, int32_t len) {
  return var_call([&]() -> int {
    if (var == nullptr || data == nullptr || len < 1) return e_null_record;
    if (const int code = sqli_private_var_init(reinterpret_cast<void **>(var)); code != 0)
      return code;
    dvz_var_rec *rec = *var;
    if (rec->data == nullptr || rec->size < len) {
      /* Only the runtime's buffer may be replaced; a program's buffer (or
      ** the lack of one) that is too small refuses the value. */
      if ((rec->flags & DVZ_VAR_RUNTIME) == 0) return e_too_large;
      auto *grown = static_cast<char *>(sqli_grow(rec->data, static_cast<size_t>(len)));
      if (grown == nullptr) return SQLI_E_NOMEM;
      rec->data = grown;
      rec->size = len;
    }
    std::memcpy(rec->data, data, static_cast<size_t>(len));
    rec->length = len;
    rec->flags &= ~DVZ_VAR_NULL;
    return 0;
  });
}

int dvz_var_setnull(dvz_var_rec **var, int flag) {
  return var_call([&]() -> int {
    if (var == nullptr || *var == nullptr || (flag != 0 && flag != 1)) return e_null_record;
    if (flag == 1)
      (*var)->flags |= DVZ_VAR_NULL;
    else
      (*var)->flags &= ~DVZ_VAR_NULL;
    return 0;
  });
}

int dvz_var_setlen(dvz_var_rec **var, int32_t len) {
  return var_call([&]() -> int {
    if (var == nullptr || *var == nullptr) return e_null_record_read;
    if (len < 0) return e_null_record;
    if (len > (*var)->size) return e_too_large;
    (*var)->length = len;
    return 0;
  });
}

int dvz_var_isnull(dvz_var_rec **var) {
  int result = 0;
  const int code = var_call([&]() -> int {
    if (var == nullptr || *var == nullptr) return e_null_record;
    result = ((*var)->flags & DVZ_VAR_NULL) != 0 ? 1 : 0;
    return 0;
  });
  return code != 0 ? code : result;
}

char *dvz_var_getdata(dvz_var_rec **var) {
  char *result = nullptr;
  var_call([&]() -> int {
    if (var == nullptr || *var == nullptr) return e_null_record_read;
    if (((*var)->flags & DVZ_VAR_NULL) == 0) result = (*var)->data;
    return 0;
  });
  return result;
}

int dvz_var_getlen(dvz_var_rec **var) {
  int result = 0;
  const int code = var_call([&]() -> int {
    if (var == nullptr || *var == nullptr) return e_null_record_read;
    result = (*var)->length;
    return 0;
  });
  return code != 0 ? code : result;
}

int dvz_var_dealloc(dvz_var_rec **var) {
  return var_call(
      [&]() -> int { return sqli_private_var_dealloc(reinterpret_cast<void **>(var)); });
}

int dvz_var_freevar(dvz_var_rec **var) {
  return var_call([&]() -> int {
    if (var == nullptr) return e_null_record;
    if (*var != nullptr) {
      drop_buffer(*var);
      sqli_release(*var);
      *var = nullptr;
    }
    return 0;
  });
}

}  // extern "C"
