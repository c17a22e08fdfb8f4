/*
** Communication support, the per-connection side: an association's
** context (a chain of head, module, tail), the handshake at connect
** (client create, server accept) and at close (release), every message
** run through the chain with its statuses and in-stream handshakes, and
** the hand-back of buffers to whoever produced them. Called by the
** association glue (asf/asfcss); calls the module through its vector and
** the caller's I/O methods, and does no I/O of its own.
**
** Buffer ownership: an entry's current state names the buffer it offers
** the next entry (output) and who produced it (owner). A module's input
** is an alias of the previous entry's output, which keeps the owner until
** the input is given back. Head and tail own the caller's buffers: those
** go back through the caller's done method, a module's own through its
** return_buffer slot. One thread: the context's lock does nothing.
*/
#include <cstring>

#include "css_records.h"

namespace {

/* Kinds of handshake steps. */
enum class step_kind { create, accept, release };

/* Reason handed to a module whose handshake failed, so that it frees its
** connection. */
constexpr const char *kHandshakeAbortText = "handshake failed";

css_csm_state *top(const css_csm_data *entry) {
  return static_cast<css_csm_state *>(css_stack_top(entry->stack));
}

bool is_end(const css_csm_data *entry) { return entry->kind != CSS_KIND_CSM; }

void set_flags(css_csm_state *state, int32_t again, int32_t no_output, int32_t in) {
  state->again = again;
  state->no_output = no_output;
  state->in = in;
}

/* The lock around message processing: one thread, so it never fails. */
int lock_context(cssctx *) { return 0; }
void unlock_context(cssctx *) {}

/* The list node of entry in ctx's chain, or null. */
css_list_node *node_of(cssctx *ctx, const css_csm_data *entry) {
  for (css_list_node *node = ctx->chain.first; node != nullptr; node = node->next)
    if (node->data == entry) return node;
  return nullptr;
}

/* The entry next to entry toward the head (side CSS_SIDE_HEAD) or the
** tail, or null. */
css_csm_data *neighbour(cssctx *ctx, const css_csm_data *entry, int side) {
  css_list_node *node = node_of(ctx, entry);
  if (node == nullptr) return nullptr;
  node = side == CSS_SIDE_HEAD ? node->prev : node->next;
  return node != nullptr ? static_cast<css_csm_data *>(node->data) : nullptr;
}

/* The side a walk in direction moves toward (ahead), and the one it
** comes from (behind). */
int ahead_side(int direction) {
  return direction == CSS_DIR_OUTPUT ? CSS_SIDE_HEAD : CSS_SIDE_TAIL;
}
int behind_side(int direction) {
  return direction == CSS_DIR_OUTPUT ? CSS_SIDE_TAIL : CSS_SIDE_HEAD;
}

/* Pushes a new state on entry. 0, or -1 with err filled. */
int push_state(css_csm_data *entry, css_errblk *err) {
  auto *state = static_cast<css_csm_state *>(css_malloc(sizeof(css_csm_state)));
  if (state == nullptr) return css_err(err, CSS_ERR_MEMORY);
  set_flags(state, 0, 1, 0);
  state->enabled = 1;
  if (css_stack_push(entry->stack, state) != 0) {
    css_free(state);
    return css_err(err, CSS_ERR_MEMORY);
  }
  return 0;
}

/* Pops entry's current state; the last state is never popped. */
void pop_state(css_csm_data *entry) {
  if (entry->stack->depth > 1) css_free(css_stack_pop(entry->stack));
}

/* Pops one state of every entry on side of entry. */
void pop_side(cssctx *ctx, const css_csm_data *entry, int side) {
  for (css_csm_data *e = neighbour(ctx, entry, side); e != nullptr; e = neighbour(ctx, e, side))
    pop_state(e);
}

/* Gives every entry on side of entry a fresh state. 0, or -1 with err
** filled and nothing pushed. */
int push_side(cssctx *ctx, const css_csm_data *entry, int side, css_errblk *err) {
  for (css_csm_data *e = neighbour(ctx, entry, side); e != nullptr; e = neighbour(ctx, e, side)) {
    if (push_state(e, err) != 0) {
      for (css_csm_data *u = neighbour(ctx, entry, side); u != e; u = neighbour(ctx, u, side))
        pop_state(u);
      return -1;
    }
  }
  return 0;
}

/* 1 when an entry behind entry (in direction) has its in flag set. */
int32_t any_behind_in(cssctx *ctx, const css_csm_data *entry, int direction) {
  const int side = behind_side(direction);
  for (css_csm_data *e = neighbour(ctx, entry, side); e != nullptr; e = neighbour(ctx, e, side))
    if (top(e)->in != 0) return 1;
  return 0;
}

/* Gives buffer back to owner: the caller's done method for head and tail,
** else the module's return_buffer slot. 0, or -1 with err filled. */
int give_back(cssctx *ctx, css_csm_data *owner, csm_buffer *buffer, css_errblk *err) {
  if (owner == nullptr) return css_err(err, CSS_ERR_NOOWNER);
  if (is_end(owner)) return css_return_iobuffer(ctx, buffer, err);
  return css_csm_return_buffer(owner, buffer, err);
}

/* Takes entry's output away from it (the next entry has it now). */
void mark_taken(css_csm_state *state) {
  state->output = nullptr;
  state->owner = nullptr;
  state->no_output = 1;
}

/* Moves prev's output to next (pass-through), prev's owner kept. */
void pass_on(css_csm_data *prev, css_csm_data *next) {
  css_csm_state *from = top(prev);
  css_csm_state *to = top(next);
  to->output = from->output;
  to->owner = from->output != nullptr ? (from->owner != nullptr ? from->owner : prev) : nullptr;
  to->no_output = to->output == nullptr ? 1 : 0;
  mark_taken(from);
}

/* Gives every module-owned buffer that states still name back to its
** module: done before the modules' connections go away. */
void return_module_outputs(cssctx *ctx) {
  for (css_list_node *node = ctx->chain.first; node != nullptr; node = node->next) {
    auto *entry = static_cast<css_csm_data *>(node->data);
    for (css_stack_node *s = entry->stack->top; s != nullptr; s = s->next) {
      auto *state = static_cast<css_csm_state *>(s->data);
      if (state->output != nullptr && state->owner != nullptr && !is_end(state->owner)) {
        css_errblk scratch {};
        css_csm_return_buffer(state->owner, state->output, &scratch);
        mark_taken(state);
      }
    }
  }
}

/* Frees ctx and its chain. With abort_live, a module whose connection
** handle is still set gets its abort first, so that it frees what it
** holds for the connection. */
void destroy_context(cssctx *ctx, bool abort_live) {
  if (ctx == nullptr) return;
  return_module_outputs(ctx);
  if (abort_live) {
    for (css_list_node *node = ctx->chain.last; node != nullptr; node = node->prev) {
      auto *entry = static_cast<css_csm_data *>(node->data);
      if (is_end(entry) || entry->handle == nullptr || entry->descr == nullptr ||
          entry->descr->vector == nullptr || entry->descr->vector->abort == nullptr)
        continue;
      csm_abort_reason reason {0, kHandshakeAbortText};
      csm_errblk scratch {};
      entry->descr->vector->abort(&entry->handle, &reason, &scratch);
    }
  }
  css_list_delete_items(&ctx->chain, css_csm_data_delete);
  css_free(ctx);
}

/* A new chain end of kind appended to ctx's chain, or null with err
** filled. */
css_csm_data *append_end(cssctx *ctx, int32_t kind, css_errblk *err) {
  css_csm_data *entry = css_csm_data_new(ctx, nullptr);
  if (entry == nullptr) {
    css_err(err, CSS_ERR_MEMORY);
    return nullptr;
  }
  entry->kind = kind;
  entry->phase = CSS_PHASE_ESTABLISHED;
  if (css_list_append(&ctx->chain, entry) != 0) {
    css_csm_data_delete(entry);
    css_err(err, CSS_ERR_MEMORY);
    return nullptr;
  }
  return entry;
}

/* Gives entry's held input back through the neighbour it came from: the
** one toward the head (handshakes, input), else the one toward the tail
** when that one offers it (a message held from the output direction). */
int give_back_input(cssctx *ctx, css_csm_data *entry, css_errblk *err) {
  css_csm_data *prev = neighbour(ctx, entry, CSS_SIDE_HEAD);
  css_csm_data *next = neighbour(ctx, entry, CSS_SIDE_TAIL);
  csm_buffer *input = top(entry)->input;
  if (input != nullptr && next != nullptr && top(next)->output == input &&
      (prev == nullptr || top(prev)->output != input))
    prev = next;
  return css_return_input_buffer(ctx, entry, prev, err);
}

/* Reads from the transport until entry has input; with clear_input the
** entry's input flag is off during the read. 0, or -1 with err filled. */
int read_until_input(cssctx *ctx, css_csm_data *entry, bool clear_input, css_errblk *err) {
  const uint32_t saved = entry->flags;
  if (clear_input) entry->flags &= ~CSM_FLAG_INPUT;
  int rc = 0;
  for (;;) {
    if (css_get_bytes(ctx, err) != 0) {
      rc = -1;
      break;
    }
    const int got = css_cascade_input(ctx, entry, err);
    if (got < 0) {
      rc = -1;
      break;
    }
    if (got > 0) break;
    // A module before the entry kept the buffer: give the head's back.
    css_csm_state *head = top(ctx->head);
    csm_buffer *rest = head->output;
    mark_taken(head);
    if (rest != nullptr && css_return_iobuffer(ctx, rest, err) != 0) {
      rc = -1;
      break;
    }
  }
  entry->flags = saved;
  return rc;
}

/* Sends entry's output toward the head and over the transport; on the
** server side the entries toward the head get fresh states meanwhile, so
** that the input they hold stays. 0, or -1 with err filled. */
int send_token(cssctx *ctx, css_csm_data *entry, bool fresh_states, css_errblk *err) {
  if (fresh_states && push_side(ctx, entry, CSS_SIDE_HEAD, err) != 0) return -1;
  int rc = css_cascade_output(ctx, entry, err);
  if (rc == 0) rc = css_put_bytes(ctx, err);
  if (fresh_states) {
    // A buffer stopped on the way is given back before its state goes.
    return_module_outputs(ctx);
    pop_side(ctx, entry, CSS_SIDE_HEAD);
  }
  return rc;
}

/* 1 when entry's vector has the handshake slot for kind. */
bool has_step(const css_csm_data *entry, step_kind kind) {
  const csm_func_vec *v = entry->descr->vector;
  switch (kind) {
    case step_kind::create:
      return v->create != nullptr;
    case step_kind::accept:
      return v->accept != nullptr;
    case step_kind::release:
      return v->release != nullptr;
  }
  return false;
}

/* Calls entry's handshake slot for kind (present: has_step). */
int call_step(css_csm_data *entry, step_kind kind, csm_conn_info *info, void *caller_arg,
              csm_buffer *input, csm_buffer **output) {
  csm_func_vec *v = entry->descr->vector;
  switch (kind) {
    case step_kind::create:
      return v->create(&entry->handle, entry->descr->context, info, input, output, caller_arg,
                       entry->parm, &entry->errblk);
    case step_kind::accept:
      return v->accept(&entry->handle, entry->descr->context, info, input, output, entry->parm,
                       &entry->errblk);
    case step_kind::release:
      return v->release(&entry->handle, input, output, &entry->errblk);
  }
  return -1;
}

/* The state flags {again, no-output, in} of a handshake or release step
** by status. */
struct step_row {
  int32_t status;
  int32_t again;
  int32_t no_output;
  int32_t in;
};
constexpr step_row handshake_rows[] = {
    {CSM_STATUS_DONE, 0, 1, 0},       {CSM_STATUS_MORE, 0, 1, 0},
    {CSM_STATUS_SEND_REPLY, 1, 0, 0}, {CSM_STATUS_SEND_AGAIN, 1, 0, 1},
    {CSM_STATUS_NEED_INPUT, 1, 1, 0},
};

/* Runs entry's handshake (create or accept) or release steps until the
** module has finished. 0, or -1 with err filled; a held input is left for
** the caller to give back. */
int run_steps(cssctx *ctx, css_csm_data *entry, step_kind kind, csm_conn_info *info,
              void *caller_arg, css_errblk *err) {
  const bool server = ctx->mode == 1 && kind == step_kind::accept;
  bool sent = false;
  if (server && top(entry)->in == 0 && read_until_input(ctx, entry, false, err) != 0) return -1;
  while (has_step(entry, kind)) {
    css_csm_state *state = top(entry);
    csm_buffer *output = nullptr;
    entry->errblk.code = 0;
    const int rc = call_step(entry, kind, info, caller_arg, state->input, &output);
    state->output = output;
    state->owner = output != nullptr ? entry : nullptr;
    if (rc != 0) return css_csm_err(err, &entry->errblk);
    int32_t status = entry->errblk.status;
    if (kind == step_kind::release && status == CSM_STATUS_MORE) status = CSM_STATUS_DONE;
    const step_row *row = nullptr;
    for (const step_row &r : handshake_rows)
      if (r.status == status) row = &r;
    if (row == nullptr)
      return css_err(err, CSS_ERR_STATUS, entry->descr->name, static_cast<long>(status));
    set_flags(state, row->again, row->no_output, row->in);
    if (status == CSM_STATUS_MORE) err->flag = 1;
    if (state->no_output != 0) {
      // Nothing to send: a buffer given all the same goes straight back.
      if (state->output != nullptr) {
        csm_buffer *unused = state->output;
        mark_taken(state);
        state->no_output = 1;
        if (css_csm_return_buffer(entry, unused, err) != 0) return -1;
      }
      if (give_back_input(ctx, entry, err) != 0) return -1;
      if (state->again == 0) break;
      if (!sent) return css_err(err, CSS_ERR_NOSEND);
    } else if (state->output != nullptr) {
      if (send_token(ctx, entry, server, err) != 0) return -1;
      sent = true;
    }
    if (state->in != 0) continue;
    if (give_back_input(ctx, entry, err) != 0) return -1;
    if (read_until_input(ctx, entry, kind == step_kind::release, err) != 0) return -1;
  }
  return 0;
}

/* Marks the modules between entry and the tail disconnected. 0, or -1
** with err filled when one of them still transforms a direction. */
int mark_disconnected(cssctx *ctx, css_csm_data *entry, css_errblk *err) {
  for (css_csm_data *e = neighbour(ctx, entry, CSS_SIDE_TAIL); e != nullptr && !is_end(e);
       e = neighbour(ctx, e, CSS_SIDE_TAIL)) {
    if (css_csm_is_active(e, CSS_DIR_INPUT) != 0 || css_csm_is_active(e, CSS_DIR_OUTPUT) != 0)
      return css_err(err, CSS_ERR_MARKDISC);
    e->phase = CSS_PHASE_CLOSED;
  }
  return 0;
}

/* Takes prev's output (entry's input) and gives it back to its owner;
** entry's input is cleared. 0, or -1 with err filled. */
int return_prev_output(cssctx *ctx, css_csm_data *entry, css_csm_data *prev, css_errblk *err) {
  css_csm_state *p = top(prev);
  if (top(entry)->input == p->output) top(entry)->input = nullptr;
  if (p->output == nullptr) return 0;
  csm_buffer *buffer = p->output;
  css_csm_data *owner = p->owner != nullptr ? p->owner : prev;
  mark_taken(p);
  return give_back(ctx, owner, buffer, err);
}

/* Runs an in-stream handshake of entry for status (3 or 4): the token in
** its current state goes out over the transport under a pushed state;
** for 3 the reply is read into that state's input. 0, or -1 with err
** filled. */
int start_instream(cssctx *ctx, css_csm_data *entry, int32_t status, css_errblk *err) {
  css_csm_state *base = top(entry);
  if (push_state(entry, err) != 0) return -1;
  css_csm_state *hs = top(entry);
  hs->output = base->output;
  hs->owner = base->output != nullptr ? entry : nullptr;
  hs->enabled = base->enabled;
  base->output = nullptr;
  base->owner = nullptr;
  set_flags(hs, 1, 0, status == CSM_STATUS_SEND_AGAIN ? 1 : 0);
  entry->phase = CSS_PHASE_INSTREAM;
  if (send_token(ctx, entry, true, err) != 0) return -1;
  if (status == CSM_STATUS_SEND_REPLY) {
    if (push_side(ctx, entry, CSS_SIDE_HEAD, err) != 0) return -1;
    const int rc = read_until_input(ctx, entry, false, err);
    // The reply stays as the entry's input; the head's fresh state goes.
    mark_taken(top(ctx->head));
    pop_side(ctx, entry, CSS_SIDE_HEAD);
    if (rc != 0) return -1;
  } else {
    entry->phase = CSS_PHASE_ESTABLISHED;
  }
  return 0;
}

/* Ends an open in-stream handshake of entry: its reply goes back to the
** transport, its state is popped and its output kept in the state below. */
int end_instream(cssctx *ctx, css_csm_data *entry, css_errblk *err) {
  auto *hs = static_cast<css_csm_state *>(css_stack_pop(entry->stack));
  css_csm_state *base = top(entry);
  base->output = hs->output;
  base->owner = hs->output != nullptr ? entry : nullptr;
  csm_buffer *reply = hs->input;
  css_free(hs);
  if (entry->phase == CSS_PHASE_INSTREAM) entry->phase = CSS_PHASE_ESTABLISHED;
  return reply != nullptr ? css_return_iobuffer(ctx, reply, err) : 0;
}

/* Runs one message through ctx in direction: see css_process_out_message. */
int process_direction(cssctx *ctx, csm_buffer *msg, csm_buffer **out, int direction,
                      css_errblk *err) {
  if (ctx == nullptr) return css_err(err, CSS_ERR_NOCONTEXT);
  if (lock_context(ctx) != 0) return css_err(err, CSS_ERR_LOCK);
  const bool output = direction == CSS_DIR_OUTPUT;
  css_csm_data *start = output ? ctx->tail : ctx->head;
  css_csm_data *far = output ? ctx->head : ctx->tail;
  int32_t &last = output ? ctx->out_disposition : ctx->in_disposition;
  css_csm_data *&end = output ? ctx->out_end : ctx->in_end;
  // A result the caller did not give back goes back before it is lost.
  css_csm_state *fs = top(far);
  if (fs->output != nullptr && fs->owner != nullptr && !is_end(fs->owner)) {
    css_errblk scratch {};
    css_csm_return_buffer(fs->owner, fs->output, &scratch);
  }
  mark_taken(fs);
  set_flags(fs, 0, 1, 0);
  end = nullptr;
  // A message is loaded unless the last one still has output to give.
  if (!output || last != CSS_DISP_MORE_OUTPUT) {
    css_csm_state *ss = top(start);
    if (!output || last == CSS_DISP_DONE) set_flags(ss, 0, 0, 0);
    ss->output = msg;
    ss->owner = msg != nullptr ? start : nullptr;
    ss->no_output = msg == nullptr ? 1 : 0;
  }
  css_list_iter it;
  css_list_iter_init(&it, &ctx->chain, output ? CSS_ITER_BACKWARD : CSS_ITER_FORWARD);
  css_list_iter_next(&it);  // the start end itself
  css_csm_data *prev = start;
  int rc;
  while ((rc = css_process_message(ctx, &it, &prev, far, direction, err)) == 1) {}
  if (rc < 0) {
    unlock_context(ctx);
    return -1;
  }
  fs = top(far);
  *out = fs->output;
  const int32_t disposition =
      fs->again != 0 ? CSS_DISP_MORE_INPUT : (fs->in != 0 ? CSS_DISP_MORE_OUTPUT : CSS_DISP_DONE);
  err->flag = disposition;
  last = disposition;
  end = fs->output != nullptr ? far : nullptr;
  unlock_context(ctx);
  return 0;
}

/* The client's or the server's handshake: see css_create_context. */
int handshake(cssctx **slot, csslibctx *lib, css_io_methods *io, csm_conn_info *info,
              const char *spec, void *caller_arg, uint32_t *enabled, int mode, css_errblk *err) {
  if (slot == nullptr) return css_err(err, CSS_ERR_NOCONTEXT);
  *slot = nullptr;
  if (enabled != nullptr) *enabled = 0;
  err->flag = 0;
  cssctx *ctx = nullptr;
  if (css_init_context(&ctx, lib, io, spec, mode, err) != 0) return -1;
  *slot = ctx;
  uint32_t directions = 0;
  uint32_t capabilities = 0;
  for (css_list_node *node = ctx->chain.first; node != nullptr; node = node->next) {
    auto *entry = static_cast<css_csm_data *>(node->data);
    if (is_end(entry)) continue;
    int rc = run_steps(ctx, entry, mode == 0 ? step_kind::create : step_kind::accept, info,
                       caller_arg, err);
    if (rc == 0) {
      entry->phase = CSS_PHASE_ESTABLISHED;
      csm_func_vec *v = entry->descr->vector;
      if (v->get_flags == nullptr) {
        entry->flags = CSM_FLAG_OUTPUT | CSM_FLAG_INPUT;
      } else {
        int32_t flags = 0;
        if (v->get_flags(entry->handle, &flags, &entry->errblk) != 0)
          rc = css_csm_err(err, &entry->errblk);
        else
          entry->flags = static_cast<uint32_t>(flags);
      }
    }
    if (rc != 0) {
      css_errblk scratch {};
      give_back_input(ctx, entry, &scratch);
      destroy_context(ctx, true);
      *slot = nullptr;
      return -1;
    }
    directions |= entry->flags;
    capabilities |= entry->descr->flags;
  }
  // Capability bits survive only where the module's init flags have them.
  directions &= ~((CSM_FLAG_CAP1 | CSM_FLAG_CAP2) & ~capabilities);
  if (enabled != nullptr) *enabled = directions;
  return 0;
}

}  // namespace

extern "C" {

int css_init_context(cssctx **out, csslibctx *lib, css_io_methods *io, const char *spec, int mode,
                     css_errblk *err) {
  if (lib == nullptr) return css_err(err, PF_ERR_NOCSS);
  if (mode == 1 && io == nullptr) return css_err(err, CSS_ERR_NOIOVEC);
  auto *ctx = static_cast<cssctx *>(css_malloc(sizeof(cssctx)));
  if (ctx == nullptr) return css_err(err, CSS_ERR_MEMORY);
  ctx->lib = lib;
  ctx->mode = mode;
  if (io != nullptr) ctx->io = *io;
  const char *pos = spec != nullptr ? spec : "";
  char name[CSS_NAME_SIZE];
  if (css_get_csm_name(name, &pos) <= 0) {
    destroy_context(ctx, false);
    return css_err(err, CSS_ERR_NONAME);
  }
  ctx->head = append_end(ctx, CSS_KIND_HEAD, err);
  if (ctx->head == nullptr) {
    destroy_context(ctx, false);
    return -1;
  }
  csm_descr *descr = css_find_csm_descr(&lib->descrs, name);
  if (descr == nullptr) {
    destroy_context(ctx, false);
    return css_err(err, CSS_ERR_NOCSM, name);
  }
  if (css_load_csm(ctx, descr, &ctx->chain, &pos, err) != 0) {
    destroy_context(ctx, false);
    return -1;
  }
  ctx->tail = append_end(ctx, CSS_KIND_TAIL, err);
  if (ctx->tail == nullptr) {
    destroy_context(ctx, false);
    return -1;
  }
  *out = ctx;
  return 0;
}

int css_create_context(cssctx **slot, csslibctx *lib, css_io_methods *io, csm_conn_info *info,
                       const char *spec, void *caller_arg, uint32_t *enabled, css_errblk *err) {
  return handshake(slot, lib, io, info, spec, caller_arg, enabled, 0, err);
}

int css_accept_context(cssctx **slot, csslibctx *lib, css_io_methods *io, csm_conn_info *info,
                       const char *spec, uint32_t *enabled, css_errblk *err) {
  return handshake(slot, lib, io, info, spec, nullptr, enabled, 1, err);
}

int css_process_out_message(cssctx *ctx, csm_buffer *msg, csm_buffer **out, css_errblk *err) {
  return process_direction(ctx, msg, out, CSS_DIR_OUTPUT, err);
}

int css_process_in_message(cssctx *ctx, csm_buffer *msg, csm_buffer **out, css_errblk *err) {
  return process_direction(ctx, msg, out, CSS_DIR_INPUT, err);
}

int css_process_message(cssctx *ctx, css_list_iter *it, css_csm_data **prev_io, css_csm_data *far,
                        int direction, css_errblk *err) {
  if (direction != CSS_DIR_INPUT && direction != CSS_DIR_OUTPUT)
    return css_err(err, CSS_ERR_DIRECTION);
  auto *entry = static_cast<css_csm_data *>(css_list_iter_next(it));
  css_csm_data *prev = *prev_io;
  if (entry == nullptr) return 0;
  if (is_end(entry) || (entry->phase != CSS_PHASE_ESTABLISHED)) {
    // Pass through: the far end gets what the previous entry offers.
    css_csm_state *p = top(prev);
    css_csm_state *fs = top(far);
    fs->output = p->output;
    fs->owner = p->output != nullptr ? prev : nullptr;
    fs->no_output = p->output == nullptr ? 1 : 0;
    // The output of a module handed on keeps its producer as owner.
    if (p->output != nullptr && p->owner != nullptr && !is_end(p->owner)) fs->owner = p->owner;
    mark_taken(p);
    return 0;
  }
  if (css_csm_is_active(entry, direction) == 0) return 1;
  css_csm_state *state = top(entry);
  if (top(prev)->output == nullptr && state->in == 0) {
    *prev_io = entry;
    return 1;
  }
  if (state->in == 0) state->input = top(prev)->output;
  csm_func_vec *v = entry->descr->vector;
  auto slot = direction == CSS_DIR_OUTPUT ? v->process_output : v->process_input;
  csm_buffer *input = state->input;
  bool instream = false;
  for (;;) {
    css_csm_state *cur = top(entry);
    csm_buffer *output = nullptr;
    entry->errblk.code = 0;
    const int rc = slot(entry->handle, input, &output, &entry->errblk);
    int32_t status = entry->errblk.status;
    if (rc != 0) {
      if (entry->errblk.code != CSM_ERR_DISCONNECTED) return css_csm_err(err, &entry->errblk);
      if (mark_disconnected(ctx, entry, err) != 0) return -1;
      entry->phase = CSS_PHASE_CLOSED;
      status = CSM_STATUS_NEED_INPUT;
      if (output != nullptr) {
        css_errblk scratch {};
        css_csm_return_buffer(entry, output, &scratch);
        output = nullptr;
      }
    }
    cur->output = output;
    cur->owner = output != nullptr ? entry : nullptr;
    if (instream) {
      instream = false;
      if (end_instream(ctx, entry, err) != 0) return -1;
    }
    cur = top(entry);
    switch (status) {
      case CSM_STATUS_DONE: {
        set_flags(cur, 0, 0, 0);
        if (cur->enabled == 0) {
          pop_side(ctx, entry, entry->disabled_side);
          entry->disabled_side = CSS_SIDE_NONE;
          cur->enabled = 1;
        }
        if (return_prev_output(ctx, entry, prev, err) != 0) return -1;
        cur->input = nullptr;
        css_csm_state *fs = top(far);
        set_flags(fs, top(prev)->again, 0, any_behind_in(ctx, entry, direction));
        *prev_io = entry;
        return 1;
      }
      case CSM_STATUS_MORE:
        set_flags(cur, 0, 0, 1);
        if (cur->enabled != 0) {
          if (push_side(ctx, entry, behind_side(direction), err) != 0) return -1;
          entry->disabled_side = behind_side(direction);
          cur->enabled = 0;
        }
        set_flags(top(far), 0, 0, 1);
        *prev_io = entry;
        return 1;
      case CSM_STATUS_SEND_REPLY:
      case CSM_STATUS_SEND_AGAIN:
        if (start_instream(ctx, entry, status, err) != 0) return -1;
        instream = true;
        input = status == CSM_STATUS_SEND_REPLY ? top(entry)->input : state->input;
        continue;
      case CSM_STATUS_NEED_INPUT: {
        set_flags(cur, 1, 1, 0);
        if (return_prev_output(ctx, entry, prev, err) != 0) return -1;
        cur->input = nullptr;
        if (cur->enabled != 0) {
          if (push_side(ctx, entry, ahead_side(direction), err) != 0) return -1;
          entry->disabled_side = ahead_side(direction);
          cur->enabled = 0;
        }
        set_flags(top(far), 1, 1, any_behind_in(ctx, entry, direction));
        *prev_io = entry;
        return 1;
      }
      default:
        return css_csm_err(err, &entry->errblk);
    }
  }
}

int css_csm_is_active(const css_csm_data *entry, int direction) {
  if (entry == nullptr || is_end(entry) || entry->descr == nullptr ||
      entry->descr->vector == nullptr)
    return 0;
  const csm_func_vec *v = entry->descr->vector;
  if (direction == CSS_DIR_OUTPUT)
    return v->process_output != nullptr && (entry->flags & CSM_FLAG_OUTPUT) != 0 ? 1 : 0;
  if (direction == CSS_DIR_INPUT)
    return v->process_input != nullptr && (entry->flags & CSM_FLAG_INPUT) != 0 ? 1 : 0;
  return 0;
}

int css_return_input_buffer(cssctx *ctx, css_csm_data *entry, css_csm_data *prev, css_errblk *err) {
  css_csm_state *state = top(entry);
  csm_buffer *input = state->input;
  if (input == nullptr) return 0;
  state->input = nullptr;
  css_csm_state *p = prev != nullptr ? top(prev) : nullptr;
  if (p == nullptr || p->output != input || p->owner == nullptr)
    return css_err(err, CSS_ERR_NOOWNER);
  css_csm_data *owner = p->owner;
  mark_taken(p);
  return give_back(ctx, owner, input, err);
}

int css_return_iobuffer(cssctx *ctx, csm_buffer *buffer, css_errblk *err) {
  if (ctx->io.done == nullptr) return css_err(err, CSS_ERR_NORETURN);
  if (buffer == nullptr) return 0;
  const int rc = ctx->io.done(ctx->io.arg, buffer);
  if (rc < 0) return css_err(err, CSS_ERR_RETURN, static_cast<long>(rc));
  return 0;
}

int css_csm_return_buffer(css_csm_data *owner, csm_buffer *buffer, css_errblk *err) {
  if (owner == nullptr) return css_err(err, CSS_ERR_NOBUFOWNER);
  if (is_end(owner) || owner->descr == nullptr || owner->descr->vector == nullptr ||
      owner->descr->vector->return_buffer == nullptr || buffer == nullptr)
    return 0;
  if (owner->descr->vector->return_buffer(owner->handle, buffer, &owner->errblk) != 0)
    return css_csm_err(err, &owner->errblk);
  return 0;
}

int css_cascade_output(cssctx *ctx, css_csm_data *entry, css_errblk *) {
  css_csm_data *prev = entry;
  for (css_csm_data *e = neighbour(ctx, entry, CSS_SIDE_HEAD); e != nullptr;
       e = neighbour(ctx, e, CSS_SIDE_HEAD)) {
    pass_on(prev, e);
    prev = e;
  }
  return 0;
}

int css_cascade_input(cssctx *ctx, css_csm_data *entry, css_errblk *) {
  css_csm_data *prev = ctx->head;
  for (css_csm_data *e = neighbour(ctx, ctx->head, CSS_SIDE_TAIL); e != nullptr && e != entry;
       e = neighbour(ctx, e, CSS_SIDE_TAIL)) {
    pass_on(prev, e);
    prev = e;
  }
  // The entry's input is an alias: prev keeps the buffer and its owner.
  top(entry)->input = top(prev)->output;
  return top(entry)->input != nullptr ? 1 : 0;
}

int css_put_bytes(cssctx *ctx, css_errblk *err) {
  if (ctx->io.put == nullptr) return css_err(err, CSS_ERR_NOPUTBYTES);
  css_csm_state *head = top(ctx->head);
  csm_buffer *buffer = head->output;
  if (buffer == nullptr) return 0;
  css_csm_data *owner = head->owner;
  // A partial send cannot be resumed: taking fewer bytes fails the step.
  const int taken = ctx->io.put(ctx->io.arg, buffer);
  int rc = 0;
  if (taken < 0 || taken != buffer->size) rc = css_err(err, CSS_ERR_PUTBYTES);
  mark_taken(head);
  css_errblk scratch {};
  if (owner != nullptr && css_csm_return_buffer(owner, buffer, rc == 0 ? err : &scratch) != 0)
    rc = -1;
  return rc;
}

int css_get_bytes(cssctx *ctx, css_errblk *err) {
  if (ctx->io.get == nullptr) return css_err(err, CSS_ERR_NOGETBYTES);
  css_csm_state *head = top(ctx->head);
  if (head->output != nullptr) {
    // Never overwrite a buffer the head still offers.
    csm_buffer *old = head->output;
    mark_taken(head);
    if (css_return_iobuffer(ctx, old, err) != 0) return -1;
  }
  csm_buffer *buffer = nullptr;
  if (ctx->io.get(ctx->io.arg, &buffer) < 0 || buffer == nullptr)
    return css_err(err, CSS_ERR_GETBYTES);
  head->output = buffer;
  head->owner = ctx->head;
  head->no_output = 0;
  return 0;
}

int css_buffer_done(cssctx *ctx, csm_buffer *buffer, int direction, css_errblk *err) {
  if (ctx == nullptr) return css_err(err, CSS_ERR_NOCONTEXT);
  if (direction != CSS_DIR_INPUT && direction != CSS_DIR_OUTPUT) return css_err(err, CSS_ERR_LOCK);
  css_csm_data *&end = direction == CSS_DIR_INPUT ? ctx->in_end : ctx->out_end;
  if (end == nullptr) return css_err(err, CSS_ERR_NOBUFFER);
  css_csm_state *state = top(end);
  css_csm_data *owner = state->owner;
  csm_buffer *given = buffer != nullptr ? buffer : state->output;
  if (state->output == given) mark_taken(state);
  state->owner = nullptr;
  end = nullptr;
  return css_csm_return_buffer(owner, given, err);
}

int css_release_context(cssctx **slot, css_errblk *err) {
  if (slot == nullptr || *slot == nullptr) return css_err(err, CSS_ERR_NOCONTEXT);
  cssctx *ctx = *slot;
  return_module_outputs(ctx);
  int rc = 0;
  for (css_list_node *node = ctx->chain.last; node != nullptr && rc == 0; node = node->prev) {
    auto *entry = static_cast<css_csm_data *>(node->data);
    if (is_end(entry) || (entry->flags & (CSM_FLAG_OUTPUT | CSM_FLAG_INPUT)) == 0 ||
        entry->descr->vector->release == nullptr)
      continue;
    // A release step starts with nothing offered and nothing held: a
    // message the module still held from processing goes back first.
    css_errblk scratch {};
    if (give_back_input(ctx, entry, &scratch) != 0) top(entry)->input = nullptr;
    set_flags(top(entry), 0, 1, 0);
    rc = run_steps(ctx, entry, step_kind::release, nullptr, nullptr, err);
    give_back_input(ctx, entry, rc == 0 ? err : &scratch);
    entry->phase = CSS_PHASE_CLOSED;
  }
  destroy_context(ctx, rc != 0);
  *slot = nullptr;
  return rc;
}

int css_abort_context(cssctx **slot, csm_abort_reason *reason, css_errblk *err) {
  if (slot == nullptr || *slot == nullptr) return css_err(err, CSS_ERR_NOCONTEXT);
  cssctx *ctx = *slot;
  return_module_outputs(ctx);
  int rc = 0;
  for (css_list_node *node = ctx->chain.last; node != nullptr; node = node->prev) {
    auto *entry = static_cast<css_csm_data *>(node->data);
    if (is_end(entry) || entry->descr->vector->abort == nullptr) continue;
    if (entry->descr->vector->abort(&entry->handle, reason, &entry->errblk) != 0) {
      rc = css_csm_err(err, &entry->errblk);
      break;
    }
    entry->phase = CSS_PHASE_CLOSED;
  }
  destroy_context(ctx, false);
  *slot = nullptr;
  return rc;
}

}  // extern "C"
