/*
** match_operator.cpp: the MATCHES and LIKE operators (52, 53, 56, 57) of
** the expression evaluator and the process cache of the last compiled
** pattern. Single-byte locales use the byte matcher on the operands'
** bytes unless NCHAR operands must be normalised; otherwise the pattern
** is compiled (match_compiled.cpp) once per pattern, escape, operator
** family and normalisation and the value matched against it.
*/
#include <stdlib.h>
#include <string.h>

#include "gen_exprtypes.h"
#include "gen_match.h"
#include "gen_types.h"
#include "match_internal.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "os_stored.h"

extern "C" {
relist *prev_relist = nullptr;
char *prev_restr = nullptr;
int nprev_restr = -1;
}

namespace {

using namespace dvz_genlib::match;

/* The rest of the cache key: a list compiled for MATCHES does not serve
** LIKE, nor one compiled in another locale or under the other ANSI
** setting (escapes compile differently). The escape warning the
** compilation raised is replayed on reuse. */
struct cache_extra {
  int many;
  int one;
  int normalise;
  gl_locale *locale;
  int ansi; /* escape errors are compiled in */
  int16_t warning;
};
cache_extra prev_extra {};

constexpr int type_flag_character = 0x2000;

bool is_character(const value_t *v) {
  int code = v->vtype & 0xff;
  switch (code) {
    case sql_type_char:
    case sql_type_varchar:
    case sql_type_nchar:
    case sql_type_nvarchar:
      return true;
    case sql_type_variable_udt:
    case sql_type_fixed_udt:
      return v->vxid == 1 || (v->vtype & type_flag_character) != 0;
    default:
      return (v->vtype & type_flag_character) != 0;
  }
}

bool is_varying(const value_t *v) {
  int code = v->vtype & 0xff;
  return code == sql_type_varchar || code == sql_type_nvarchar;
}

void set_smallint(value_t *r, int16_t ind, int value) {
  r->vtype = sql_type_smallint;
  r->vind = ind;
  r->vint = value;
}

int value_length(const value_t *v) { return v->vptr != nullptr && v->vlen > 0 ? v->vlen : 0; }

/* Normalisation is on for NCHAR comparisons in a locale whose collation
** has equivalent or ignorable characters and is not the code-set order. */
int wants_normalisation(const gl_locale *loc, const value_t *value, const value_t *pattern) {
  if (loc == nullptr || loc->codeset_order != 0) return 0;
  if (loc->ignorable_chars == nullptr && loc->equivalent_chars == nullptr) return 0;
  return extype(value->vtype, pattern->vtype, EX_EQ) == sql_type_nchar ? 1 : 0;
}

/* A list compiled before the last locale change (_gnorminit reset) is
** never reused: the next compilation rebuilds the normaliser. */
bool cache_fits(const value_t *pattern, int escape, int many, int one, int normalise,
                gl_locale *loc) {
  int len = value_length(pattern);
  if (_gnorminit == 0) return false;
  if (prev_restr == nullptr || prev_relist == nullptr || nprev_restr != len) return false;
  uint32_t cached_escape = 0;
  memcpy(&cached_escape, prev_restr, 4);
  return cached_escape == static_cast<uint32_t>(escape) && prev_extra.many == many &&
         prev_extra.one == one && prev_extra.normalise == normalise && prev_extra.locale == loc &&
         prev_extra.ansi == ansidb &&
         (len == 0 || memcmp(prev_restr + 4, pattern->vptr, static_cast<size_t>(len)) == 0);
}

/* The compiled path: 1 match, 0 no match, with any error in toerrno. */
int compiled_match(const value_t *value, const value_t *pattern, int escape, int many, int one,
                   int normalise) {
  gl_locale *loc = client_locale();
  int remembered = 0;
  gen_tcb *tcb = CheckGenInit();
  if (cache_fits(pattern, escape, many, one, normalise, loc)) {
    if (prev_extra.warning != 0 && tcb != nullptr) tcb->escape_warning = 1;
  } else {
    rfreerelist(prev_relist);
    prev_relist = nullptr;
    free(prev_restr);
    prev_restr = nullptr;
    nprev_restr = -1;
    int len = value_length(pattern);
    gl_wchar *wide = alloccnvtowchar(pattern->vptr, len);
    if (wide == nullptr) return 0;
    int16_t warning_before = tcb != nullptr ? tcb->escape_warning : 0;
    if (tcb != nullptr) tcb->escape_warning = 0;
    prev_relist = rcnvtorelist(wide, many, one, escape, normalise);
    free(wide);
    int16_t warned = tcb != nullptr ? tcb->escape_warning : 0;
    if (tcb != nullptr && warning_before != 0) tcb->escape_warning = 1;
    if (prev_relist == nullptr) return 0;
    if (get_toerrno() != 0) {
      remembered = get_toerrno();
      set_toerrno(0);
    } else {
      prev_restr = static_cast<char *>(malloc(static_cast<size_t>(len) + 5));
      if (prev_restr == nullptr) {
        rfreerelist(prev_relist);
        prev_relist = nullptr;
        set_toerrno(gls_err_date_memory);
        return 0;
      }
      uint32_t key_escape = static_cast<uint32_t>(escape);
      memcpy(prev_restr, &key_escape, 4);
      if (len > 0) memcpy(prev_restr + 4, pattern->vptr, static_cast<size_t>(len));
      prev_restr[len + 4] = 0;
      nprev_restr = len;
      prev_extra = cache_extra {many, one, normalise, loc, ansidb, warned};
    }
  }
  int matched = rrewildmatch(value->vptr, value_length(value), prev_relist, normalise);
  if (matched != 0 && remembered != 0) set_toerrno(remembered);
  return matched;
}

/* The common start of the two entry points: result cleared, control block
** present, error word and warning cleared. */
int enter(value_t *value, value_t *pattern, value_t *result) {
  if (result != value && result != pattern) set_smallint(result, 0, 0);
  gen_tcb *tcb = CheckGenInit();
  if (tcb == nullptr) return os_err_no_memory;
  set_toerrno(0);
  tcb->escape_warning = 0;
  return 0;
}

}  // namespace

extern "C" {

int exescmatch(int op, value_t *value, value_t *pattern, value_t *result, int escape) {
  if (value->vind == -1 || pattern->vind == -1) {
    set_smallint(result, -1, 0);
    return 0;
  }
  if (!is_character(value) || !is_character(pattern)) return value_err_not_character;
  bool matches = op == EX_MATCHES || op == EX_NOTMATCHES;
  int many = matches ? '*' : '%';
  int one = matches ? '?' : '_';
  gl_locale *loc = client_locale();
  int normalise = wants_normalisation(loc, value, pattern);
  int hit = 0;
  if ((loc == nullptr || loc->single_byte != 0) && normalise == 0) {
    int vlen = value_length(value);
    int plen = value_length(pattern);
    if (!is_varying(value) && !is_varying(pattern)) {
      vlen = vlen > 0 ? dvz_byleng(value->vptr, vlen) : 0;
      plen = plen > 0 ? dvz_byleng(pattern->vptr, plen) : 0;
    }
    hit = rescfixstrmatch(value->vptr, vlen, pattern->vptr, plen, many, one, escape);
  } else {
    hit = compiled_match(value, pattern, escape, many, one, normalise);
  }
  if (op == EX_NOTMATCHES || op == EX_NOTLIKE) hit = !hit;
  set_smallint(result, 0, hit);
  int error = get_toerrno();
  if (error == 0) return 0;
  result->vint = 0;
  if (error == os_err_bad_char) {
    set_toerrno(0);
    return 0;
  }
  return error;
}

int exmatch(int op, value_t *value, value_t *pattern, value_t *result) {
  int error = enter(value, pattern, result);
  return error != 0 ? error : exescmatch(op, value, pattern, result, '\\');
}

int ansi_exescmatch(int op, value_t *value, value_t *pattern, value_t *result, int escape,
                    int *warning) {
  int error = enter(value, pattern, result);
  if (error == 0) error = exescmatch(op, value, pattern, result, escape);
  if (warning != nullptr) *warning = gentcb != nullptr && gentcb->escape_warning == 1 ? 1 : 0;
  return error;
}
}
