/*
** Communication support: loading a module for a connection and deleting
** its descriptor. Called by the per-connection side when it builds a
** connection's chain (css_load_csm) and by css_terminate through the
** descriptor list (csm_descr_ldelete).
**
** A module's library is opened once, on first use, and never closed: its
** code may still be referenced by the loader's bookkeeping and by other
** descriptors naming the same file. A relative path is searched by the
** dynamic loader. A module that failed to load or to initialise stays
** failed for the life of the process and is never tried again.
*/
#include <dlfcn.h>

#include <cstring>

#include "css_records.h"

namespace {

/* Initialises a descriptor whose init entry is known: its vector, module
** context and flags. 0, or -1 with err filled; the load state is left
** CSM_LOADED, CSM_LOAD_FAILED, or CSM_NOT_LOADED when only memory ran out
** (the next connection tries again). */
int init_module(csm_descr *descr, css_errblk *err) {
  descr->state = CSM_LOADED;
  descr->vector = csm_func_vec_new();
  if (descr->vector == nullptr) {
    descr->state = CSM_NOT_LOADED;
    return css_err(err, CSS_ERR_MEMORY);
  }
  csm_errblk module {};
  void *context = nullptr;
  uint32_t flags = 0;
  if (descr->init(&context, css_func_vec_get(), descr->vector, descr->gopts, &flags, &module) !=
      0) {
    // Without its context the module is unusable: it must never be reused.
    css_free(descr->vector);
    descr->vector = nullptr;
    descr->state = CSM_LOAD_FAILED;
    return css_csm_err(err, &module);
  }
  if (descr->vector->version != CSM_FUNC_VEC_VERSION) {
    const long version = descr->vector->version;
    css_free(descr->vector);
    descr->vector = nullptr;
    descr->state = CSM_LOAD_FAILED;
    return css_err(err, CSS_ERR_VERSION, version, descr->name);
  }
  descr->context = context;
  descr->flags = flags;
  return 0;
}

/* Appends the connection's entry for descr, with the parameter at *pos
** or else the line's connection options. 0, or -1 with err filled. */
int add_connection_entry(void *cssctx, csm_descr *descr, css_list *conn_list, const char **pos,
                         css_errblk *err) {
  css_csm_data *entry = css_csm_data_new(cssctx, descr);
  if (entry == nullptr) return css_err(err, CSS_ERR_MEMORY);
  char parm[CSS_TEXT_SIZE];
  const int length = css_get_csm_parm(parm, pos);
  if (length < 0) {
    css_csm_data_delete(entry);
    return css_err(err, CSS_ERR_PARM);
  }
  const char *text = length > 0 ? parm : descr->copts;
  if (text != nullptr) {
    const size_t size = std::strlen(text) + 1;
    entry->parm = static_cast<char *>(css_malloc(static_cast<long>(size)));
    if (entry->parm == nullptr) {
      css_csm_data_delete(entry);
      return css_err(err, CSS_ERR_MEMORY);
    }
    std::memcpy(entry->parm, text, size);
  }
  if (css_list_append(conn_list, entry) != 0) {
    css_csm_data_delete(entry);
    return css_err(err, CSS_ERR_MEMORY);
  }
  return 0;
}

}  // namespace

extern "C" {

int css_load_library(csm_descr *descr, css_errblk *err) {
  if (descr->libpath == nullptr || descr->libpath[0] == '\0') {
    descr->state = CSM_LOAD_FAILED;
    return css_err(err, CSS_ERR_NOLIBRARY);
  }
  void *library = dlopen(descr->libpath, RTLD_NOW);
  if (library == nullptr) {
    descr->state = CSM_LOAD_FAILED;
    return css_err(err, CSS_ERR_LOAD, descr->libpath);
  }
  void *entry = dlsym(library, "csm_init");
  if (entry == nullptr) {
    // Nothing of this library is in use yet: it can go again.
    dlclose(library);
    descr->state = CSM_LOAD_FAILED;
    return css_err(err, CSS_ERR_NOINIT, descr->libpath);
  }
  descr->init = reinterpret_cast<csm_init_fn>(entry);
  return 0;
}

int css_load_csm(void *cssctx, csm_descr *descr, css_list *conn_list, const char **pos,
                 css_errblk *err) {
  if (descr->members.count > 0) {
    for (css_list_node *m = descr->members.first; m != nullptr; m = m->next) {
      csm_descr *member = static_cast<csm_descr_ref *>(m->data)->descr;
      if (member == descr) return css_err(err, CSS_ERR_INCOMPLETE, descr->name);
      if (css_load_csm(cssctx, member, conn_list, pos, err) != 0) return -1;
    }
    return 0;
  }
  // A failed module fails at once, reported as a library that cannot be
  // loaded so that the caller still gets a code.
  if (descr->state == CSM_LOAD_FAILED)
    return css_err(err, CSS_ERR_LOAD, descr->libpath != nullptr ? descr->libpath : descr->name);
  // The head entry is always there: one more is the only module allowed.
  if (conn_list->count > 1) return css_err(err, CSS_ERR_SECONDCSM);
  if (descr->state == CSM_NOT_LOADED) {
    if (descr->init == nullptr && css_load_library(descr, err) != 0) return -1;
    if (init_module(descr, err) != 0) return -1;
  }
  return add_connection_entry(cssctx, descr, conn_list, pos, err);
}

void csm_descr_ldelete(void *item) {
  auto *descr = static_cast<csm_descr *>(item);
  if (descr == nullptr) return;
  css_free(descr->name);
  css_free(descr->libpath);
  css_free(descr->gopts);
  css_free(descr->copts);
  if (descr->context != nullptr && descr->vector != nullptr &&
      descr->vector->terminate != nullptr) {
    csm_errblk scratch {};
    descr->vector->terminate(&descr->context, &scratch);
  }
  if (descr->state == CSM_LOADED) css_free(descr->vector);
  css_list_delete_items(&descr->members, nullptr);
  css_free(descr);
}

void csm_descr_print(const void *) {}

void csm_descr_ref_print(const void *) {}

}  // extern "C"
