/*
** string_helpers.cpp: three string helpers of the value library: a blank
** test by the client's character classes, a sort comparer by the current
** locale's order, and the removal of repeats from a sorted list.
*/
#include "gen_strings.h"
#include "gl_collate.h"
#include "gl_locale.h"
#include "os_context.h"
#include "os_glsenv.h"
#include "os_stored.h"

extern "C" {

int strisblank(const char *text) {
  for (const auto *c = reinterpret_cast<const unsigned char *>(text); *c != 0; ++c) {
    if ((_ixctype[*c + 1] & os_ct_space) == 0) return 0;
  }
  return 1;
}

int frmcmpr(const void *a, const void *b) {
  const char *s1 = *static_cast<const char *const *>(a);
  const char *s2 = *static_cast<const char *const *>(b);
  const auto *u1 = reinterpret_cast<const unsigned char *>(s1);
  const auto *u2 = reinterpret_cast<const unsigned char *>(s2);
  gl_locale *loc = CheckGlsEnv()->locale;
  if (loc == nullptr) return stcmpr(s1, s2);
  if (loc->codeset_order != 1 && loc->mbscoll_fn != nullptr) return loc->mbscoll_fn(loc, u1, u2);
  if (gl_mb_loc_min(loc) > 1) return gl_full_mbscmp(loc, u1, u2);
  return stcmpr(s1, s2);
}

int compact(char **list, int n) {
  const char *previous = " ";
  int kept = 0;
  for (int i = 0; i < n; ++i) {
    char *entry = list[i];
    if (stcmpr(entry, previous) == 0) continue;
    list[kept++] = entry;
    previous = entry;
  }
  return kept;
}

}  // extern "C"
