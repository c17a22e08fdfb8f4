/*
** The global control block of the association services: its creation
** from the init request, its deletion at termination, and the debug
** set-up that reads DOVARIZAASFDBG into it and writes the dump header.
** Called by the init and terminate services; the memory seam lives here.
*/
#include <cstdio>
#include <cstring>
#include <ctime>

#include "asf_al.h"
#include "asf_memory.h"
#include "os_env.h"

const asf_memory_seam asf_system_memory = {meAlloc, meFree};
const asf_memory_seam *asf_memory = &asf_system_memory;

ASFGLBCTL *asfglbctl = nullptr;

namespace {

/* A debug letter and the bits it adds. */
struct debug_letter {
  char letter;
  uint32_t categories;
  uint32_t options;
};
constexpr debug_letter debug_letters[] = {
    {'A', asf_dbg_all, 0},     {'C', asf_dbg_conn, 0}, {'E', asf_dbg_error, 0},
    {'O', asf_dbg_other, 0},   {'S', asf_dbg_svc, 0},  {'l', 0, asf_dbgopt_line},
    {'t', 0, asf_dbgopt_time},
};

/* The dump header: title, creation time, the variable's value. */
void write_dump_header(FILE *out, const char *value) {
  std::fprintf(out, "%s  %s\n", "ASF Debug Dump", "version 6.0");
  time_t now = std::time(nullptr);
  char text[32];
  if (ctime_r(&now, text) == nullptr) std::strcpy(text, "\n");
  std::fprintf(out, "Dump created on: %s", text);
  std::fprintf(out, "DOVARIZAASFDBG = %s\n\n", value);
  std::fflush(out);
}

/* Reads the letters of value and opens the dump file: 0 or -1. */
int read_debug_value(ASFGLBCTL *g, const char *value) {
  uint32_t categories = 0, options = 0;
  const char *c = value;
  for (; *c != '\0' && *c != ':'; ++c) {
    const debug_letter *found = nullptr;
    for (const debug_letter &d : debug_letters)
      if (d.letter == *c) found = &d;
    if (found == nullptr) {
      std::fprintf(stderr, "Error: invalid option or category - %c \n", *c);
      return -1;
    }
    categories |= found->categories;
    options |= found->options;
  }
  FILE *out = stderr;
  if (*c == ':' && c[1] != '\0') {
    out = std::fopen(c + 1, "w");
    if (out == nullptr) {
      std::fprintf(stderr, "Error: can't open file - %s\n", c + 1);
      return -1;
    }
    write_dump_header(out, value);
  }
  g->dbgcat = categories;
  g->dbgopt = options;
  g->dbgfile = out;
  return 0;
}

}  // namespace

extern "C" {

ASFGLBCTL *getASFGLBCTL(void) { return asfglbctl; }

int defineASFCtl(asfsvcreq *req, asfsvcctl *ctl) {
  if (req == nullptr) return ASF_ERR_BADARGS;
  ASFGLBCTL *g = asfglbctl;
  bool made = false;
  if (g == nullptr) {
    g = static_cast<ASFGLBCTL *>(asf_alloc(asf_pool_global, sizeof(ASFGLBCTL)));
    if (g == nullptr) {
      if (ctl != nullptr) ctl->asfcode = ASF_ERR_MEMORY;
      return ASF_ERR_MEMORY;
    }
    made = true;
  }
  const uintptr_t *w = req->word;
  auto nprot = static_cast<int32_t>(w[7]);
  const void *entries = reinterpret_cast<const void *>(w[8]);
  void *copy = nullptr;
  if (nprot > 0 && entries != nullptr) {
    size_t size = size_t(nprot) * ASF_PROT_ENTRY_SIZE;
    copy = asf_alloc(asf_pool_global, size);
    if (copy == nullptr) {
      if (made) asf_free(asf_pool_global, g);
      if (ctl != nullptr) ctl->asfcode = ASF_ERR_MEMORY;
      return ASF_ERR_MEMORY;
    }
    std::memcpy(copy, entries, size);
  }
  g->initflags = static_cast<uint32_t>(w[1]);
  g->initval = g->initval2 = static_cast<uint32_t>(w[4]);
  g->parm5 = static_cast<uint32_t>(w[5]);
  g->parm6 = static_cast<uint32_t>(w[6]);
  g->reserved = 0;
  g->parm10 = static_cast<uint32_t>(w[10]);
  g->parm11 = static_cast<uint32_t>(w[11]);
  for (int i = 0; i < 5; ++i)
    g->parm12[i] = static_cast<uint32_t>(w[12 + i]);
  g->nprot = nprot;
  g->prot = copy;
  g->dbgfile = stderr;
  dvzOS_mutexInit(&g->lock, "asf_global");
  asfglbctl = g;
  return 0;
}

int deleteASFCtl(asfsvcctl *ctl) {
  ASFGLBCTL *g = asfglbctl;
  auto fail = [ctl] {
    if (ctl != nullptr) ctl->asfcode = ASF_ERR_MEMORY;
    return ASF_ERR_MEMORY;
  };
  if (g == nullptr) return fail();
  if (dvzOS_mutexDestroy(&g->lock) != 0) return fail();
  if (g->prot != nullptr) {
    if (asf_free(asf_pool_global, g->prot) != 0) return fail();
    g->prot = nullptr;
  }
  if (g->dbgfile != nullptr && g->dbgfile != stderr) std::fclose(g->dbgfile);
  g->dbgfile = nullptr;
  if (asf_free(asf_pool_global, g) != 0) return fail();
  asfglbctl = nullptr;
  return 0;
}

int asfDbgSetup(void) {
  ASFGLBCTL *g = asfglbctl;
  if (g == nullptr) return -1;
  g->dbgcat = 0;
  g->dbgopt = 0;
  g->dbgfile = stderr;
  const char *value = ggetenv("DOVARIZAASFDBG");
  if (value == nullptr) return 0;
  if (read_debug_value(g, value) != 0) {
    g->dbgcat = 0;
    g->dbgopt = 0;
    g->dbgfile = stderr;
    return -1;
  }
  return 0;
}

void asf_set_errstr(asfsvcctl *ctl, const char *text) {
  if (ctl == nullptr || text == nullptr) return;
  const size_t n = strnlen(text, ASF_ERRSTR_SIZE - 1);
  std::memcpy(ctl->errstr, text, n);
  ctl->errstr[n] = '\0';
}

}  // extern "C"
