/*
** The general control block and its error words (os_gentcb.h). The block
** is made on first use by whoever asks first: the value library, the
** runtime or the catalog reader. Getters that only report state do not
** make it; those that store, and the two error words, do.
*/
#include <cstdlib>

#include "os_gentcb.h"

extern "C" {

gen_tcb *gentcb = nullptr;
int ansidb = 0;

void genfill(gen_tcb *block) {
  *block = gen_tcb {};
  block->msg_fd = -1;
}

gen_tcb *gentcb_alloc(void) {
  auto *block = static_cast<gen_tcb *>(std::malloc(sizeof(gen_tcb)));
  if (block != nullptr) genfill(block);
  return block;
}

int checkGenApi(void) { return 0; }

gen_tcb *CheckGenInit(void) {
  if (gentcb == nullptr) {
    gentcb = gentcb_alloc();
    if (gentcb != nullptr) gentcb->api_error = checkGenApi();
  }
  return gentcb;
}

int get_toerrno(void) {
  gen_tcb *block = CheckGenInit();
  return block != nullptr ? block->toerrno : os_err_no_memory;
}

void set_toerrno(int value) {
  if (gen_tcb *block = CheckGenInit(); block != nullptr) block->toerrno = value;
}

int get_glserror(void) {
  gen_tcb *block = CheckGenInit();
  return block != nullptr ? block->glserror : os_err_no_memory;
}

int set_glserror(int value) {
  gen_tcb *block = CheckGenInit();
  if (block == nullptr) return os_err_no_memory;
  block->glserror = value;
  return value;
}

int getgenerr(void) { return gentcb != nullptr ? gentcb->api_error : 0; }

void gset_dbver(void) {
  if (gen_tcb *block = CheckGenInit(); block != nullptr) block->flags |= gen_flag_long_identifiers;
}

int gget_dbver(void) { return gentcb != nullptr ? gentcb->flags & gen_flag_long_identifiers : 0; }

void dvzGEN_setFloatType(int value) {
  if (gen_tcb *block = CheckGenInit(); block != nullptr) block->float_type = value;
}

int dvzGEN_getFloatType(void) { return gentcb != nullptr ? gentcb->float_type : -1; }

void gen_setansidb(int flag) { ansidb = flag; }

glsenv_save *CheckSaveAreaInit(void) { return glsenv_savearea; }

}  // extern "C"
