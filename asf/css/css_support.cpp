/*
** Communication support's small services: the memory and buffer vectors
** handed to modules, the list, stack and buffer utilities, and the error
** block every CSS operation fills. Called by the configuration reader,
** the module loader and the per-connection side; modules reach the memory
** and buffer functions through css_vect.
**
** Memory goes through the association services' memory seam (pool 1), so
** that tests can fail a chosen allocation.
*/
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "asf_memory.h"
#include "css_records.h"
#include "os_wrappers.h"

namespace {

const css_vect service_vector = {
    CSS_VECT_VERSION,
    {css_malloc, css_free, css_realloc, css_surrender},
    {csm_buffer_new, csm_buffer_new_alloc, csm_buffer_alloc, csm_buffer_init, csm_buffer_free,
     csm_buffer_delete},
};

/* How css_err formats the parameter of a code. */
enum class parm_format { none, text, number, text_number, number_text };

struct parm_row {
  int32_t code;
  parm_format format;
};

constexpr parm_row parm_rows[] = {
    {CSS_ERR_INCOMPLETE, parm_format::text},    {CSS_ERR_SELFMEMBER, parm_format::text},
    {CSS_ERR_CFGOPEN, parm_format::text},       {CSS_ERR_NOINIT, parm_format::text},
    {CSS_ERR_LOAD, parm_format::text},          {CSS_ERR_NOCSM, parm_format::text},
    {CSS_ERR_PARSE, parm_format::number},       {CSS_ERR_RETURN, parm_format::number},
    {CSS_ERR_STATUS, parm_format::text_number}, {CSS_ERR_VERSION, parm_format::number_text},
};

parm_format format_of(int32_t code) {
  for (const parm_row &row : parm_rows)
    if (row.code == code) return row.format;
  return parm_format::none;
}

/* Copies text (null: empty) into parm, cut to its size. */
void set_parm(css_errblk *err, const char *text) {
  std::snprintf(err->parm, sizeof err->parm, "%s", text != nullptr ? text : "");
}

}  // namespace

extern "C" {

/* ---- Memory. ---- */

void *css_malloc(long size) {
  if (size < 0) return nullptr;
  return asf_alloc(asf_pool_assoc, static_cast<size_t>(size));
}

void css_free(void *block) {
  if (block != nullptr) asf_free(asf_pool_assoc, block);
}

void *css_realloc(void *block, long size) {
  if (size < 0) return nullptr;
  return meRealloc(asf_pool_assoc, block, static_cast<size_t>(size));
}

void css_surrender(void) {}

const css_vect *css_func_vec_get(void) { return &service_vector; }

csm_func_vec *csm_func_vec_new(void) {
  auto *vector = static_cast<csm_func_vec *>(css_malloc(sizeof(csm_func_vec)));
  if (vector != nullptr) vector->version = CSM_FUNC_VEC_VERSION;
  return vector;
}

/* ---- Buffers. ---- */

csm_buffer *csm_buffer_new(void) {
  return static_cast<csm_buffer *>(css_malloc(sizeof(csm_buffer)));
}

csm_buffer *csm_buffer_new_alloc(long size) {
  csm_buffer *buffer = csm_buffer_new();
  if (buffer == nullptr) return nullptr;
  if (csm_buffer_alloc(buffer, size) != 0) {
    css_free(buffer);
    return nullptr;
  }
  return buffer;
}

int csm_buffer_alloc(csm_buffer *buffer, long size) {
  if (buffer == nullptr || size < 0 || size > INT32_MAX) return -1;
  // An empty buffer gets no data: csm_buffer_free frees none for size 0.
  char *data = nullptr;
  if (size > 0) {
    data = static_cast<char *>(css_malloc(size));
    if (data == nullptr) return -1;
  }
  buffer->data = data;
  buffer->size = static_cast<int32_t>(size);
  return 0;
}

void csm_buffer_init(csm_buffer *buffer, char *data, long size) {
  if (buffer == nullptr) return;
  buffer->data = data;
  buffer->size = static_cast<int32_t>(size);
}

void csm_buffer_free(csm_buffer *buffer) {
  if (buffer == nullptr) return;
  if (buffer->size != 0) css_free(buffer->data);
  buffer->data = nullptr;
  buffer->size = 0;
}

void csm_buffer_delete(csm_buffer *buffer) {
  if (buffer == nullptr) return;
  csm_buffer_free(buffer);
  css_free(buffer);
}

/* ---- Lists. ---- */

css_list *css_list_new(void) { return static_cast<css_list *>(css_malloc(sizeof(css_list))); }

int css_list_append(css_list *list, void *data) {
  auto *node = static_cast<css_list_node *>(css_malloc(sizeof(css_list_node)));
  if (node == nullptr) return -1;
  node->data = data;
  node->prev = list->last;
  if (list->last != nullptr)
    list->last->next = node;
  else
    list->first = node;
  list->last = node;
  ++list->count;
  return 0;
}

void css_list_delete_items(css_list *list, css_delete_fn del) {
  if (list == nullptr) return;
  css_list_delete_item(list, nullptr, nullptr, del, 0);
}

void css_list_delete(css_list *list, css_delete_fn del) {
  if (list == nullptr) return;
  css_list_delete_items(list, del);
  css_free(list);
}

void *css_list_find_item(css_list *list, css_compare_fn compare, const void *key) {
  if (list == nullptr || compare == nullptr) return nullptr;
  for (css_list_node *node = list->first; node != nullptr; node = node->next)
    if (compare(node->data, key) == 0) return node->data;
  return nullptr;
}

int css_list_delete_item(css_list *list, css_compare_fn match, const void *key, css_delete_fn del,
                         int mode) {
  if (list == nullptr) return 0;
  int deleted = 0;
  css_list_node *node = list->first;
  while (node != nullptr) {
    css_list_node *next = node->next;
    if (match == nullptr || match(node->data, key) == 0) {
      // Unlink first: the delete callback may look at the list.
      if (node->prev != nullptr)
        node->prev->next = node->next;
      else
        list->first = node->next;
      if (node->next != nullptr)
        node->next->prev = node->prev;
      else
        list->last = node->prev;
      --list->count;
      if (del != nullptr)
        del(node->data);
      else
        css_free(node->data);
      css_free(node);
      ++deleted;
      if (mode == 1) break;
    }
    node = next;
  }
  return deleted;
}

void css_list_print(css_list *list, css_print_fn print) {
  if (list == nullptr || print == nullptr) return;
  for (css_list_node *node = list->first; node != nullptr; node = node->next)
    print(node->data);
}

void css_list_iter_init(css_list_iter *it, css_list *list, int direction) {
  it->list = list;
  it->current = nullptr;
  it->direction = direction;
  it->started = 0;
}

void *css_list_iter_next(css_list_iter *it) {
  const bool forward = it->direction == CSS_ITER_FORWARD;
  if (!it->started) {
    it->started = 1;
    it->current = forward ? it->list->first : it->list->last;
  } else if (it->current != nullptr) {
    it->current = forward ? it->current->next : it->current->prev;
  }
  return it->current != nullptr ? it->current->data : nullptr;
}

void css_list_iter_reverse(css_list_iter *it) {
  it->direction = it->direction == CSS_ITER_FORWARD ? CSS_ITER_BACKWARD : CSS_ITER_FORWARD;
}

/* ---- Stacks. ---- */

css_stack *css_stack_new(void) { return static_cast<css_stack *>(css_malloc(sizeof(css_stack))); }

int css_stack_push(css_stack *stack, void *data) {
  auto *node = static_cast<css_stack_node *>(css_malloc(sizeof(css_stack_node)));
  if (node == nullptr) return -1;
  node->data = data;
  node->next = stack->top;
  stack->top = node;
  ++stack->depth;
  return 0;
}

void *css_stack_pop(css_stack *stack) {
  css_stack_node *node = stack->top;
  if (node == nullptr) return nullptr;
  void *data = node->data;
  stack->top = node->next;
  --stack->depth;
  css_free(node);
  return data;
}

void *css_stack_top(const css_stack *stack) {
  return stack->top != nullptr ? stack->top->data : nullptr;
}

int css_stack_delete(css_stack *stack) {
  if (stack == nullptr || stack->top != nullptr) return -1;
  css_free(stack);
  return 0;
}

void css_stack_dismantle(css_stack *stack, css_delete_fn del) {
  if (stack == nullptr) return;
  while (stack->top != nullptr) {
    void *data = css_stack_pop(stack);
    if (del != nullptr) del(data);
  }
  css_free(stack);
}

/* ---- Per-connection entries. ---- */

css_csm_data *css_csm_data_new(void *cssctx, csm_descr *descr) {
  auto *entry = static_cast<css_csm_data *>(css_malloc(sizeof(css_csm_data)));
  if (entry == nullptr) return nullptr;
  entry->cssctx = cssctx;
  entry->descr = descr;
  entry->kind = CSS_KIND_CSM;
  entry->phase = CSS_PHASE_HANDSHAKE;
  entry->errblk.status = 1;
  // Every entry has a current state from the start.
  auto *state = static_cast<css_csm_state *>(css_malloc(sizeof(css_csm_state)));
  entry->stack = css_stack_new();
  if (state == nullptr || entry->stack == nullptr || css_stack_push(entry->stack, state) != 0) {
    css_free(state);
    css_stack_delete(entry->stack);
    css_free(entry);
    return nullptr;
  }
  state->no_output = 1;
  state->enabled = 1;
  return entry;
}

void css_csm_data_delete(void *item) {
  auto *entry = static_cast<css_csm_data *>(item);
  if (entry == nullptr) return;
  css_stack_dismantle(entry->stack, css_free);
  css_free(entry->parm);
  css_free(entry);
}

/* ---- Errors. ---- */

int css_err(css_errblk *err, int32_t code, ...) {
  err->modcode = 0;
  err->further = 0;
  err->parm[0] = '\0';
  if (code == 0) {
    err->code = CSS_ERR_SECONDCSM;
    set_parm(err, "0");
    return -1;
  }
  err->code = code;
  if (code == CSS_ERR_SECONDCSM) {
    std::snprintf(err->parm, sizeof err->parm, "%ld", static_cast<long>(code));
    return -1;
  }
  va_list args;
  va_start(args, code);
  switch (format_of(code)) {
    case parm_format::none:
      break;
    case parm_format::text:
      set_parm(err, va_arg(args, const char *));
      break;
    case parm_format::number:
      std::snprintf(err->parm, sizeof err->parm, "%ld", va_arg(args, long));
      break;
    case parm_format::text_number: {
      const char *text = va_arg(args, const char *);
      const long number = va_arg(args, long);
      std::snprintf(err->parm, sizeof err->parm, "%s : %ld", text != nullptr ? text : "", number);
      break;
    }
    case parm_format::number_text: {
      const long number = va_arg(args, long);
      const char *text = va_arg(args, const char *);
      std::snprintf(err->parm, sizeof err->parm, "%ld: %s", number, text != nullptr ? text : "");
      break;
    }
  }
  va_end(args);
  return -1;
}

int css_csm_err(css_errblk *err, const csm_errblk *module) {
  err->code = module->code;
  err->modcode = module->code;
  err->further = module->code2;
  // The module's text need not be terminated within its 256 bytes.
  const size_t length = strnlen(module->text, sizeof module->text - 1);
  std::memcpy(err->parm, module->text, length);
  err->parm[length] = '\0';
  if (module->code < CSM_ERR_FIRST || module->code > CSM_ERR_LAST) err->code = CSM_ERR_UNKNOWN;
  return -1;
}

}  // extern "C"
