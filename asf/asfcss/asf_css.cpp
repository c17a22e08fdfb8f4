/*
** Communication support, the association services' side: the library
** context built once from concsm.cfg, an association's support context
** (client create, server accept), each outgoing and incoming message run
** through it, and its release or abort. Called by the connection manager
** (asf/al), the protocol family and the session layer (asf/pfslsqi);
** calls communication support (asf/css) and the session layer.
**
** The support does no I/O itself: it calls the I/O methods kept here,
** which carry its tokens and messages over the session layer. A send that
** would block leaves the association in the resend state with the output
** held; the caller resumes by passing the same message again. Once output
** was handed on, a failure breaks the context: only an abort follows.
*/
#include "asf_css.h"

#include <cstdlib>
#include <cstring>

#include "asf_memory.h"
#include "asf_ns.h"
#include "os_env.h"
#include "os_messages.h"
#include "pf_records.h"
#include "sl_records.h"
#include "tl_records.h"

csslibctx *asf_css_libctx = nullptr;

namespace {

/* The protocol family's table of the support: registered before the first
** context is made. */
constexpr pfcssops pf_support_ops = {
    is_css_context_established, is_css_send_enabled,         is_css_recv_enabled,
    is_css_send_blocked,        asf_css_process_out_message, asf_css_process_in_message,
    asf_css_release_context,    asf_css_abort_context,       asf_css_free_send_buffer};

/* Reason handed to a module's abort. */
constexpr const char *kAbortText = "ASF_ASSOCABORT service request.\n";

/* Status of a send that would block. */
constexpr int32_t kStatusAgain = 6;

/* Services of this library a module may call. */
constexpr csm_import_fv kImports = {_oschkinternet, rgetmsg};

int fail(asfsvcctl *ctl, int32_t status) {
  if (ctl != nullptr) ctl->asfcode = status;
  return -1;
}

pfblock *block_of(const asfsvcctl *ctl) {
  Assocctl *assoc = valid_assoc_of(ctl);
  if (assoc == nullptr || assoc->pfstate != ASF_PF_ALLOCATED || assoc->pfblock == nullptr)
    return nullptr;
  return static_cast<pfblock *>(assoc->pfblock);
}

asfcssctx *context_of(const asfsvcctl *ctl) {
  pfblock *pf = block_of(ctl);
  return pf != nullptr ? static_cast<asfcssctx *>(pf->css) : nullptr;
}

/* Hands the output and input buffers the state still holds back to the
** support; errors are of no use here. */
void return_buffers(asfcssctx *cx) {
  if (cx->css == nullptr) return;
  css_errblk err {};
  if (cx->held != nullptr) css_buffer_done(cx->css, cx->held, 1, &err);
  cx->held = nullptr;
  if (cx->delivered != nullptr) css_buffer_done(cx->css, cx->delivered, 0, &err);
  cx->delivered = nullptr;
}

/* Frees the association's CSS state (its own send area included) and
** clears the slot. */
void free_context(pfblock *pf) {
  auto *cx = static_cast<asfcssctx *>(pf->css);
  if (cx == nullptr) return;
  if (cx->wrap.buff != nullptr) asf_free(asf_pool_assoc, cx->wrap.buff);
  asf_free(asf_pool_assoc, cx);
  pf->css = nullptr;
}

/* Shared part of create and accept: a new state in pf, then the handshake
** through handshake(). 0 or -1 with the status in ctl. */
template <typename Handshake>
int make_context(asfsvcctl *ctl, csm_conn_info *info, const char *spec, Handshake handshake) {
  if (valid_assoc_of(ctl) == nullptr) return fail(ctl, ASF_ERR_BADASSOC);
  pfblock *pf = block_of(ctl);
  if (pf == nullptr) return fail(ctl, ASF_ERR_BADASSOC);
  if (info == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  if (spec == nullptr) return fail(ctl, ASFCSS_ERR_NOSPEC);
  if (pf->css != nullptr) {
    asfsvcctl actl = *ctl;
    asf_css_abort_context(&actl);
    free_context(pf);
    return fail(ctl, ASFCSS_ERR_EXISTS);
  }
  pfRegisterCss(&pf_support_ops);
  auto *cx = static_cast<asfcssctx *>(asf_alloc(asf_pool_assoc, sizeof(asfcssctx)));
  if (cx == nullptr) {
    ctl->oserr = 12;
    return fail(ctl, ASF_ERR_MEMORY);
  }
  cx->arg.ctl = ctl;
  cx->io.arg = &cx->arg;
  cx->io.done = asf_css_done;
  cx->io.get = asf_css_recv;
  cx->io.put = asf_css_send;
  cx->state = asfcss_creating;
  pf->css = cx;
  css_errblk err {};
  uint32_t enabled = 0;
  if (handshake(cx, &enabled, &err) != 0) {
    asf_css_err(ctl, &err);
    free_context(pf);
    return -1;
  }
  cx->enabled = enabled;
  if (err.flag == 1) cx->pending = 1;
  cx->state = asfcss_ready;
  return 0;
}

/* Hands the container to the caller with out's data as a message of the
** received record's type. */
void deliver(asfcssctx *cx, csm_buffer *out, rscbufctl **result) {
  const int32_t type = cx->received != nullptr ? cx->received->type : -1;
  char *data = out != nullptr ? out->data : nullptr;
  const int32_t size = out != nullptr ? out->size : 0;
  cx->container = rscbufctl {data, size, type, nullptr, data, size, 0};
  cx->delivered = out;
  *result = &cx->container;
}

}  // namespace

extern "C" {

int asf_css_err(asfsvcctl *ctl, const css_errblk *err) {
  if (ctl == nullptr || err == nullptr) return -1;
  ctl->asfcode = err->code;
  ctl->oserr = err->further;
  char text[CSM_ERRTEXT_SIZE + 1];
  const size_t n = strnlen(err->parm, CSM_ERRTEXT_SIZE);
  std::memcpy(text, err->parm, n);
  text[n] = '\0';
  asf_set_errstr(ctl, text);
  return -1;
}

asfcssctx **asf_css_slot(const asfsvcctl *ctl) {
  pfblock *pf = block_of(ctl);
  return pf != nullptr ? reinterpret_cast<asfcssctx **>(&pf->css) : nullptr;
}

// ---- Library context. ----

int asf_css_init(asfsvcctl *ctl) {
  pfRegisterCss(&pf_support_ops);
  css_errblk err {};
  const char *path = std::getenv("RARODAZIRAVAVIDOZ");
  char *built = nullptr;
  if (path == nullptr) {
    const char *dir = ggetenv("DOVARIZADIR");
    if (dir == nullptr) {
      // Without a place for the file the connect must not go on as if
      // support were there: report the file as not openable.
      css_err(&err, CSS_ERR_CFGOPEN, ASFCSS_CONFIG_NAME);
      return asf_css_err(ctl, &err);
    }
    const size_t n = std::strlen(dir);
    built = static_cast<char *>(asf_alloc(asf_pool_temp, n + sizeof ASFCSS_CONFIG_SUFFIX));
    if (built == nullptr) {
      if (ctl != nullptr) ctl->oserr = 12;
      return fail(ctl, ASF_ERR_MEMORY);
    }
    std::memcpy(built, dir, n);
    std::memcpy(built + n, ASFCSS_CONFIG_SUFFIX, sizeof ASFCSS_CONFIG_SUFFIX);
    path = built;
  }
  csslibctx *lib = nullptr;
  const int rc = css_init(&lib, path, &err);
  if (built != nullptr) asf_free(asf_pool_temp, built);
  if (rc != 0) return asf_css_err(ctl, &err);
  asf_css_libctx = lib;
  return 0;
}

int asf_css_init_once(asfsvcctl *ctl) {
  // The global lock is a no-op in this one-thread build.
  if (asf_css_libctx != nullptr) return 0;
  return asf_css_init(ctl);
}

int asf_css_terminate(asfsvcctl *ctl) {
  if (asf_css_libctx == nullptr) return 0;
  css_errblk err {};
  if (css_terminate(&asf_css_libctx, &err) != 0) {
    if (ctl != nullptr) asf_css_err(ctl, &err);
    return -1;
  }
  return 0;
}

// ---- The information record. ----

void set_asf_csm_info(csm_conn_info *info, uintptr_t v2, uintptr_t v3, uintptr_t v4, uintptr_t v5,
                      uintptr_t v6, uintptr_t v7, uintptr_t v8, uintptr_t v9, uintptr_t v10) {
  std::memset(info, 0, sizeof *info);
  info->word[0] = v2;
  info->word[1] = v4;
  info->word[3] = v3;
  info->word[4] = v5;
  info->word[5] = v7;
  info->word[7] = v6;
  info->word[8] = v8;
  info->word[9] = v9;
  info->word[10] = v10;
  info->word[CSM_INFO_IMPORTS] = reinterpret_cast<uintptr_t>(&kImports);
}

// ---- Contexts. ----

int asf_css_create_context(asfsvcctl *ctl, uintptr_t v2, uintptr_t v3, uintptr_t v4, uintptr_t v5,
                           uintptr_t v6, uintptr_t v7, uintptr_t v8, uintptr_t v9, uintptr_t v10,
                           const char *spec, void *caller_arg, csm_conn_info *info) {
  return make_context(ctl, info, spec, [&](asfcssctx *cx, uint32_t *enabled, css_errblk *err) {
    set_asf_csm_info(info, v2, v3, v4, v5, v6, v7, v8, v9, v10);
    return css_create_context(&cx->css, asf_css_libctx, &cx->io, info, spec, caller_arg, enabled,
                              err);
  });
}

int asf_css_accept_context(asfsvcctl *ctl, uintptr_t v2, uintptr_t v3, uintptr_t v4, uintptr_t v5,
                           uintptr_t v6, uintptr_t v7, uintptr_t v8, uintptr_t v9, uintptr_t v10,
                           const char *spec, csm_conn_info *info) {
  if (valid_assoc_of(ctl) != nullptr && v5 == 0) return fail(ctl, ASF_ERR_BADARGS);
  return make_context(ctl, info, spec, [&](asfcssctx *cx, uint32_t *enabled, css_errblk *err) {
    set_asf_csm_info(info, v2, v3, v4, v5, v6, v7, v8, v9, v10);
    return css_accept_context(&cx->css, asf_css_libctx, &cx->io, info, spec, enabled, err);
  });
}

int asf_css_process_out_message(asfsvcctl *ctl, rscbufctl *msg) {
  if (valid_assoc_of(ctl) == nullptr || msg == nullptr || msg->p == nullptr)
    return fail(ctl, ASF_ERR_BADARGS);
  asfcssctx *cx = context_of(ctl);
  if (cx == nullptr) return fail(ctl, ASFCSS_ERR_NOCONTEXT);
  cx->arg.ctl = ctl;
  for (;;) {
    switch (cx->state) {
      case asfcss_ready:
        if (cx->delivered != nullptr) {
          // The caller is done with the last message it received; the
          // support's chain end it came from is reused for this one.
          css_errblk err {};
          css_buffer_done(cx->css, cx->delivered, 0, &err);
          cx->delivered = nullptr;
        }
        cx->msgbuff = msg->buff;
        cx->msglbuff = msg->lbuff;
        cx->state = asfcss_process_out;
        break;
      case asfcss_process_out: {
        css_errblk err {};
        csm_buffer *out = nullptr;
        if (css_process_out_message(cx->css, reinterpret_cast<csm_buffer *>(msg), &out, &err) !=
            0) {
          cx->mark = asfcss_mark_none;
          cx->state = asfcss_ready;
          return asf_css_err(ctl, &err);
        }
        if (err.flag == 0) {
          cx->mark = asfcss_mark_none;
        } else if (err.flag == 1) {
          cx->mark = asfcss_mark_process_again;
        } else {
          cx->state = asfcss_ready;
          return fail(ctl, ASFCSS_ERR_DISPOSITION);
        }
        cx->held = out;
        cx->arg.status = 0;
        cx->state = asfcss_send_out;
        break;
      }
      case asfcss_send_out: {
        asf_css_send(&cx->arg, cx->held);
        if (cx->arg.status == asfcss_blocked) {
          ctl->asfcode = kStatusAgain;
          cx->state = asfcss_resend;
          return -1;
        }
        const bool sent = cx->arg.status != asfcss_send_failed;
        // The output goes back to the support whether it went out or not.
        css_errblk err {};
        if (cx->held != nullptr) css_buffer_done(cx->css, cx->held, 1, &err);
        cx->held = nullptr;
        cx->arg.status = 0;
        if (!sent) {
          cx->state = cx->mark == asfcss_mark_process_again ? asfcss_broken : asfcss_ready;
          return -1;
        }
        if (cx->mark == asfcss_mark_process_again) {
          cx->state = asfcss_process_out;
          break;
        }
        cx->state = asfcss_ready;
        ctl->asfcode = 0;
        return 0;
      }
      case asfcss_resend:
        if (msg->buff != cx->msgbuff || msg->lbuff != cx->msglbuff) {
          cx->state = asfcss_broken;
          return fail(ctl, ASFCSS_ERR_RETRY);
        }
        cx->state = asfcss_send_out;
        break;
      default:
        return fail(ctl, ASFCSS_ERR_STATE);
    }
  }
}

int asf_css_process_in_message(asfsvcctl *ctl, rscbufctl **out) {
  if (out == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  *out = nullptr;
  asfcssctx *cx = context_of(ctl);
  if (cx == nullptr) return fail(ctl, ASFCSS_ERR_NOCONTEXT);
  cx->arg.ctl = ctl;
  css_errblk err {};
  for (;;) {
    switch (cx->state) {
      case asfcss_ready:
        if (cx->pending != 0) {
          cx->pending = 0;
          cx->received = nullptr;
          cx->state = asfcss_process_in;
          break;
        }
        if (cx->delivered != nullptr) css_buffer_done(cx->css, cx->delivered, 0, &err);
        cx->delivered = nullptr;
        cx->state = asfcss_receive;
        break;
      case asfcss_receive: {
        csm_buffer *in = nullptr;
        if (asf_css_recv(&cx->arg, &in) < 0) {
          cx->state = asfcss_ready;
          return -1;
        }
        cx->received = reinterpret_cast<rscbufctl *>(in);
        cx->state = asfcss_process_in;
        break;
      }
      case asfcss_process_in: {
        if (cx->mark != asfcss_mark_none && cx->delivered != nullptr) {
          css_buffer_done(cx->css, cx->delivered, 0, &err);
          cx->delivered = nullptr;
        }
        csm_buffer *result = nullptr;
        err = css_errblk {};
        if (css_process_in_message(cx->css, reinterpret_cast<csm_buffer *>(cx->received), &result,
                                   &err) != 0) {
          cx->received = nullptr;
          cx->state = err.code == CSS_ERR_DISCONNECTED ? asfcss_disconnected : asfcss_ready;
          return asf_css_err(ctl, &err);
        }
        if (err.flag == 0) {
          deliver(cx, result, out);
          cx->state = asfcss_ready;
          cx->mark = asfcss_mark_none;
          ctl->asfcode = 0;
          return 0;
        }
        if (err.flag == 1) {
          deliver(cx, result, out);
          cx->mark = asfcss_mark_process_again;
          ctl->asfcode = 0;
          return 0;
        }
        if (err.flag == 2) {
          cx->received = nullptr;
          cx->mark = asfcss_mark_recv_more;
          cx->state = asfcss_receive;
          break;
        }
        return fail(ctl, ASFCSS_ERR_DISPOSITION);
      }
      default:
        cx->state = asfcss_broken;
        return fail(ctl, ASFCSS_ERR_STATE);
    }
  }
}

int asf_css_release_context(asfsvcctl *ctl) {
  if (valid_assoc_of(ctl) == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  pfblock *pf = block_of(ctl);
  asfcssctx *cx = context_of(ctl);
  if (cx == nullptr) return fail(ctl, ASFCSS_ERR_NOCONTEXT);
  if (cx->css == nullptr) {
    free_context(pf);
    return 0;
  }
  if (cx->state != asfcss_ready && cx->state != asfcss_disconnected) {
    cx->state = asfcss_broken;
    return fail(ctl, ASFCSS_ERR_STATE);
  }
  cx->arg.ctl = ctl;
  return_buffers(cx);
  css_errblk err {};
  if (css_release_context(&cx->css, &err) != 0) {
    cx->state = asfcss_broken;
    return asf_css_err(ctl, &err);
  }
  free_context(pf);
  return 0;
}

int asf_css_abort_context(asfsvcctl *ctl) {
  if (valid_assoc_of(ctl) == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  pfblock *pf = block_of(ctl);
  asfcssctx *cx = context_of(ctl);
  if (cx == nullptr) return 0;
  cx->state = asfcss_broken;
  cx->arg.ctl = ctl;
  if (cx->css != nullptr) {
    return_buffers(cx);
    csm_abort_reason reason {0, kAbortText};
    css_errblk err {};
    if (css_abort_context(&cx->css, &reason, &err) != 0) asf_css_err(ctl, &err);
  }
  free_context(pf);
  return 0;
}

int asf_css_buffer_done(asfsvcctl *ctl, csm_buffer *buffer, int direction) {
  if (buffer == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  if (valid_assoc_of(ctl) == nullptr) return fail(ctl, ASF_ERR_BADASSOC);
  asfcssctx *cx = context_of(ctl);
  if (cx == nullptr || cx->css == nullptr) return fail(ctl, ASFCSS_ERR_NOCONTEXT);
  css_errblk err {};
  if (css_buffer_done(cx->css, buffer, direction, &err) != 0) return asf_css_err(ctl, &err);
  return 0;
}

int asf_css_free_send_buffer(asfsvcctl *ctl, rscbufctl *buf) {
  Assocctl *assoc = valid_assoc_of(ctl);
  if (assoc == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  if (buf == nullptr) return 0;
  if (assoc->sndbuf == buf) {
    // Lent without leaving its slot: only made ready again.
    buf->p = buf->buff + buf->p_offset;
    buf->size = buf->lbuff - buf->p_offset;
    return 0;
  }
  // Send slot with the reset bit, as the transport drivers register it.
  if (bufReg(assoc, asf_sel_send, buf) != 0) return fail(ctl, ASF_ERR_NOBUFFER);
  return 0;
}

int asf_css_free_recv_buffer(asfsvcctl *ctl, rscbufctl *) {
  if (valid_assoc_of(ctl) == nullptr) return fail(ctl, ASF_ERR_BADARGS);
  if (context_of(ctl) == nullptr) return fail(ctl, ASFCSS_ERR_NOCONTEXT);
  return 0;
}

// ---- I/O methods. ----

int asf_css_done(void *arg, csm_buffer *buffer) {
  if (arg == nullptr || buffer == nullptr) return -1;
  buffer->size = 0;
  return 1;
}

int asf_css_recv(void *arg, csm_buffer **buffer) {
  auto *a = static_cast<asfcss_ioarg *>(arg);
  if (a == nullptr || buffer == nullptr) return -1;
  rscbufctl *rec = nullptr;
  if (slSQIrecv(a->ctl, &rec) != 0 || rec == nullptr) return -1;
  *buffer = reinterpret_cast<csm_buffer *>(rec);
  return 0;
}

int asf_css_send(void *arg, csm_buffer *buffer) {
  auto *a = static_cast<asfcss_ioarg *>(arg);
  if (a == nullptr) return -1;
  asfsvcctl *ctl = a->ctl;
  if (buffer == nullptr || buffer->size <= 0) {
    a->status = asfcss_sent;
    return 0;
  }
  asfcssctx *cx = context_of(ctl);
  if (cx == nullptr) {
    a->status = asfcss_send_failed;
    return fail(ctl, ASFCSS_ERR_NOCONTEXT);
  }
  rscbufctl *w = &cx->wrap;
  int rc;
  if (a->status == asfcss_blocked) {
    // The rest of a send that blocked: the session header went out with
    // its first part, so the bytes go straight to the transport.
    if (a->pos < 0 || a->size < 0 || a->pos + a->size > w->lbuff) {
      a->status = asfcss_send_failed;
      return fail(ctl, ASFCSS_ERR_RETRY);
    }
    w->p = w->buff + a->pos;
    w->size = a->size;
    rc = tlSend(ctl, w);
  } else {
    // The module's buffer has no room for the session header: the bytes
    // go out from an area of this association with that room in front.
    const int32_t need = buffer->size + static_cast<int32_t>(ASF_HEADER_ROOM);
    if (w->buff == nullptr || w->lbuff < need) {
      if (w->buff != nullptr) asf_free(asf_pool_assoc, w->buff);
      w->buff = static_cast<char *>(asf_alloc(asf_pool_assoc, static_cast<size_t>(need)));
      w->lbuff = w->buff != nullptr ? need : 0;
      if (w->buff == nullptr) {
        a->status = asfcss_send_failed;
        ctl->oserr = 12;
        return fail(ctl, ASF_ERR_MEMORY);
      }
    }
    w->p_offset = static_cast<int32_t>(ASF_HEADER_ROOM);
    w->p = w->buff + w->p_offset;
    w->size = buffer->size;
    w->type = -2;
    w->next = nullptr;
    std::memcpy(w->p, buffer->data, static_cast<size_t>(buffer->size));
    rc = slSQIsend(ctl, w);
  }
  if (rc == 0) {
    a->status = asfcss_sent;
    a->pos = 0;
    a->size = 0;
    return buffer->size;
  }
  if (ctl->asfcode == kStatusAgain) {
    a->status = asfcss_blocked;
    a->pos = static_cast<int32_t>(w->p - w->buff);
    a->size = w->size;
    return buffer->size - w->size;
  }
  a->status = asfcss_send_failed;
  return -1;
}

// ---- Predicates. ----

int is_css_library_initialized(void) { return asf_css_libctx != nullptr ? 1 : 0; }

int is_css_context_established(const asfsvcctl *ctl) {
  asfcssctx *cx = context_of(ctl);
  return cx != nullptr && cx->css != nullptr ? 1 : 0;
}

int is_css_processing_requested(const NSEntry *entry) {
  return entry != nullptr && entry->options.csm != nullptr ? 1 : 0;
}

int is_css_send_enabled(const asfsvcctl *ctl) {
  asfcssctx *cx = context_of(ctl);
  return cx != nullptr && (cx->enabled & asfcss_send_enabled) != 0 ? 1 : 0;
}

int is_css_recv_enabled(const asfsvcctl *ctl) {
  asfcssctx *cx = context_of(ctl);
  return cx != nullptr && (cx->enabled & asfcss_recv_enabled) != 0 ? 1 : 0;
}

int is_css_send_blocked(const asfsvcctl *ctl) {
  asfcssctx *cx = context_of(ctl);
  return cx != nullptr && cx->state == asfcss_resend ? 1 : 0;
}

const char *get_csm_conn_spec(const NSEntry *entry) {
  return entry != nullptr ? entry->options.csm : nullptr;
}

}  // extern "C"
