/*
** runtime_context.cpp: the runtime's one process context. Every public
** operation of the runtime fetches it with CheckGlobInit, which creates
** it on first use (reading the option variables once), runs the
** interface checks of the layers beneath, and checks the locale on every
** call. The context is never freed. Also the small memory helpers the
** later operations share: block replacement and the scratch buffer.
*/
#include "sqli_context.h"

#include <cstring>

#include "os_context.h"
#include "os_env.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "sqli_errors.h"
#include "sqli_seams.h"

sqli_tcb *sqlitcb = nullptr;

namespace {

/* The scratch buffer grows in steps of this many bytes. */
constexpr int scratch_step = 512;

bool env_is(const char *name, const char *value) {
  const char *v = ggetenv(name);
  return v != nullptr && std::strcmp(v, value) == 0;
}

/* The options read once, when the context is created. */
void read_options(sqli_tcb *tcb) {
  if (env_is("DVZ_AUTOFREE", "1")) {
    tcb->flags = static_cast<int16_t>((tcb->flags | sqli_flag_autofree) & ~sqli_flag_no_autofree);
  } else if (env_is("DVZ_AUTOFREE", "0")) {
    tcb->flags = static_cast<int16_t>((tcb->flags | sqli_flag_no_autofree) & ~sqli_flag_autofree);
  }
  tcb->flags = static_cast<int16_t>(tcb->flags & ~sqli_flag_deferred_prepare);
  if (env_is("DVZ_DEFERRED_PREPARE", "1"))
    tcb->flags = static_cast<int16_t>(tcb->flags | sqli_flag_deferred_prepare);
  if (ggetenv("BLANK_STRINGS_NOT_NULL") != nullptr)
    tcb->flags = static_cast<int16_t>(tcb->flags | sqli_flag_blanks_not_null);
}

}  // namespace

void globfill(sqli_tcb *tcb) {
  std::memset(tcb, 0, sizeof *tcb);
  tcb->ansiwarn_pending = 1;
  tcb->sqlca = &sqlca;
  tcb->sqlcode = &SQLCODE;
  tcb->sqlstate = SQLSTATE;
  tcb->file_fd = -1;
  tcb->xa_current.format = -1;
}

sqli_tcb *GlobInit(void) {
  auto *tcb = static_cast<sqli_tcb *>(sqli_alloc(sizeof(sqli_tcb)));
  if (tcb != nullptr) globfill(tcb);
  return tcb;
}

sqli_tcb *getsqlitcb(void) { return sqlitcb; }

int checkSqliApi(void) { return 0; }

int chkAPIerr(int own, sqli_tcb *tcb) {
  _sqclrca(tcb);
  if (own == SQLI_E_SQLIAPI) {
    _iqseterr(own);
    return own;
  }
  const int os = getoserr();
  if (os == SQLI_E_OSAPI) {
    _iqseterr(os);
    return os;
  }
  const int gen = getgenerr();
  if (gen == SQLI_E_GENAPI) _iqseterr(gen);
  return gen;
}

sqli_tcb *CheckGlobInit(void) {
  if (sqlitcb == nullptr) {
    sqli_tcb *tcb = GlobInit();
    if (tcb == nullptr) return nullptr;
    sqlitcb = tcb;
    /* A failed check leaves the context in place: the next call uses it. */
    if (chkAPIerr(checkSqliApi(), tcb) != 0) return nullptr;
    read_options(tcb);
  }
  sqli_tcb *tcb = sqlitcb;
  if (tcb->locale_guard == 0) {
    const int rc = chkglsinit();
    if (rc != 0) {
      /* The recording fetches the context again: the guard keeps it from
      ** checking the locale a second time. */
      tcb->locale_guard = 1;
      _iqseterr(rc);
      tcb->locale_guard = 0;
      return nullptr;
    }
  }
  return tcb;
}

void sqlreparse(int flag) {
  sqli_tcb *tcb = sqlitcb;
  if (tcb != nullptr && tcb->curconn != nullptr) tcb->curconn->reparse = flag;
}

void *_sqrealloc(void *old, int size) {
  sqli_release(old);
  void *block = sqli_alloc(size > 0 ? static_cast<size_t>(size) : 1);
  if (block == nullptr) _iqseterr(SQLI_E_NOMEM);
  return block;
}

void *_sqchkrealloc(void *block, int held, int need) {
  if (block != nullptr && held >= need) return block;
  return _sqrealloc(block, need);
}

void _sqapimem(int need, sqli_tcb *tcb) {
  if (need <= tcb->scratch_size) return;
  int64_t size = tcb->scratch_size;
  while (size < need)
    size += scratch_step;
  /* The old buffer and size stay until the new one is there. */
  void *block = tcb->scratch == nullptr ? sqli_alloc(static_cast<size_t>(size))
                                        : sqli_grow(tcb->scratch, static_cast<size_t>(size));
  if (block == nullptr) {
    _iqseterr(SQLI_E_NOMEM);
    return;
  }
  tcb->scratch = static_cast<char *>(block);
  tcb->scratch_size = static_cast<int32_t>(size);
}

void _sqsetup(sqli_cursor *cursor) {
  if (cursor == nullptr || cursor->stmt_type != 0) return;
  /* A fresh record was zeroed at creation and holds no list of the
  ** runtime's own; its name, text, list link and collection state belong
  ** to the operation that made it and are kept. */
  cursor->link = nullptr;
  cursor->stmt_type = -1;
  cursor->stmt_id = -1;
  cursor->ncols = cursor->nin = cursor->nout = cursor->nrtypes = 0;
  cursor->nbuffered = cursor->rowsize = 0;
  cursor->bufsize = 0;
  cursor->flags = 0;
  cursor->first_row = cursor->last_row = 0;
  cursor->inlist = cursor->outlist = cursor->rtypes = nullptr;
  cursor->coldesc = nullptr;
  cursor->colname_pool = nullptr;
  cursor->buffer = cursor->bufpos = nullptr;
  cursor->conv_colname_pool = nullptr;
  cursor->done_count = 0;
  cursor->rowlen_table = nullptr;
  cursor->owned_block = nullptr;
  cursor->nvarlen_cols = 0;
  cursor->deferred_open = 0;
  cursor->marked_rows = nullptr;
  cursor->marked_state = 0;
  cursor->marked_capacity = cursor->marked_next = 0;
}
