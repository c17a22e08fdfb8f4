/*
** Fuzz target: the locale-file readers through the loader. An fopen double
** in the host-service table serves the input as a memory stream for every
** file the loader opens; each category is loaded on its own (after a CTYPE
** from the same input, so the later categories get past their code-set
** check), then all six at once, then a record is made from "default.lco"
** with gl_createlocale2_4. Whatever loads is queried, copied and freed.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gl_locale.h"
#include "glslib.h"

namespace {

std::vector<char> g_input;

FILE *serve_input(const char *, const char *) {
  if (g_input.empty()) return nullptr;
  return fmemopen(g_input.data(), g_input.size(), "r");
}

void query_everything(gl_locale *r) {
  for (int item = -1; item <= 75; ++item) {
    const char *mb = gl_nl_langinfo(r, item);
    if (mb != nullptr) (void)std::strlen(mb);
    const gl_wchar *wc = gl_wc_nl_langinfo(r, item);
    while (wc != nullptr && *wc != 0)
      ++wc;
  }
  const glconv *c = gl_localeconv(r);
  if (c->grouping != nullptr) (void)std::strlen(c->grouping);
  (void)gl_mb_loc_max(r);
  (void)gl_mb_loc_min(r);
  if (r->class_map != nullptr && r->upper_map != nullptr)
    for (int b = 0; b < 256; ++b)
      (void)(r->class_map[b] + r->upper_map[b] + r->lower_map[b]);
  for (char **s = r->ignorable_chars; s != nullptr && *s != nullptr; ++s)
    (void)std::strlen(*s);
  for (gl_equiv_pair *p = r->equivalent_chars; p != nullptr && p->member != nullptr; ++p)
    (void)(std::strlen(p->member) + std::strlen(p->representative));
}

void load_one(int category) {
  gl_locale *r = nullptr;
  if (gl_create_null_locale_4(&r) != 0) return;
  if (category > GL_CTYPE) gl_destroystring(gl_setlocale_4(r, GL_CTYPE, "fuzz.lco"));
  gl_destroystring(gl_setlocale_4(r, category, "fuzz.lco"));
  query_everything(r);
  gl_locale *copy = nullptr;
  if (gl_create_null_locale_4(&copy) == 0) {
    if (gl_copy_cat(copy, r, category) == 0) query_everything(copy);
    gl_lc_unload(copy);
  }
  gl_lc_unload(r);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  gl_setextfunc(nullptr, GL_EXT_FOPEN, reinterpret_cast<gl_ext_funcptr>(serve_input));
  /* The built-in registry, so code-set checks read no file. */
  gl_free_registry_cache();
  gl_cache_registry(nullptr, "/nonexistent/registry");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  g_input.assign(data, data + size);
  for (int category = GL_ALL; category <= GL_MESSAGES; ++category)
    load_one(category);
  gl_locale *d = nullptr;
  if (gl_createlocale2_4(&d, "fuzz/") == 0) query_everything(d);
  gl_lc_unload(d);
  return 0;
}
