/*
** The locale record's derived data: what the update after each load and
** copy rebuilds from the categories (single_byte, the byte maps of a
** single-byte locale, the conversion and collation slots, the code-set
** check), the glconv copies, the wide forms of names and texts, and the
** initialisation that follows the reading of NUMERIC, MONETARY, TIME and
** MESSAGES (wide forms, eras, name-lookup trees).
**
** Callers: the loader (locale_load.cpp) and the record's lifecycle
** (locale_record.cpp: copying and freeing categories); the section readers
** and era parsing for the text helpers. Calls: the character layer (case
** partners, the wide conversions it installs), the code-set registry, the
** era parser and the name trees.
*/

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "ascii.h"
#include "gl_registry.h"
#include "locale_internal.h"
#include "multilevel_internal.h"

using glslib::alloc_zeroed;
using glslib::free_block;
using glslib::free_byte_maps;
using glslib::free_pair;
using glslib::store_error;
using glslib::widen_text;

namespace glslib {

void free_byte_maps(gl_locale *record) {
  free_block(&record->upper_map);
  free_block(&record->lower_map);
  free_block(&record->class_map);
}

void free_numeric_conv(gl_locale *record) {
  glconv &c = record->conv;
  free_pair(&c.decimal_point);
  free_pair(&c.thousands_sep);
  free_block(&c.grouping);
  free_pair(&c.num_positive_sign);
  free_pair(&c.num_negative_sign);
}

void free_monetary_conv(gl_locale *record) {
  glconv &c = record->conv;
  free_pair(&c.int_curr_symbol);
  free_pair(&c.currency_symbol);
  free_pair(&c.mon_decimal_point);
  free_pair(&c.mon_thousands_sep);
  free_block(&c.mon_grouping);
  free_pair(&c.positive_sign);
  free_pair(&c.negative_sign);
  c.int_frac_digits = c.frac_digits = c.p_cs_precedes = c.p_sep_by_space = 0;
  c.n_cs_precedes = c.n_sep_by_space = c.p_sign_posn = c.n_sign_posn = 0;
}

void widen_names(gl_locale *record) {
  for (int i = 0; i < GL_CATEGORY_COUNT; ++i) {
    for (int j = 0; j < GL_CS_NAME_SLOT; ++j)
      record->codeset_names_wc[i][j] = static_cast<unsigned char>(record->codeset_names[i][j]);
    for (int j = 0; j < GL_FILE_NAME_SLOT; ++j)
      record->file_names_wc[i][j] = static_cast<unsigned char>(record->file_names[i][j]);
  }
}

int min_char_length(gl_locale *record) {
  int length = gl_mb_loc_min(record);
  return length < 1 ? 1 : (length > 4 ? 4 : length);
}

std::size_t text_length(gl_locale *record, const char *text) {
  if (text == nullptr) return 0;
  std::size_t j = 0;
  while (text[j] != 0 || text[j + 1] != 0 || text[j + 2] != 0 || text[j + 3] != 0)
    ++j;
  std::size_t m = static_cast<std::size_t>(min_char_length(record));
  return (j + m - 1) / m * m;
}

char *copy_text(gl_locale *record, const char *text, std::size_t length) {
  auto *copy = static_cast<char *>(_gl_alloc_ptr(length + 4));
  if (copy == nullptr) {
    store_error(record, GL_ENOMEM);
    return nullptr;
  }
  if (length > 0) std::memcpy(copy, text, length);
  std::memset(copy + length, 0, 4);
  return copy;
}

gl_wchar *widen_text(gl_locale *record, const char *text) {
  if (text == nullptr) return nullptr;
  if (record->mbfstowcfs_fn == nullptr) {
    store_error(record, GL_EILSEQ);
    return nullptr;
  }
  std::size_t length = text_length(record, text);
  gl_wchar *wide = alloc_zeroed<gl_wchar>(length + 1);
  if (wide == nullptr) {
    store_error(record, GL_ENOMEM);
    return nullptr;
  }
  /* Counted, not terminated: where zero bytes go on a character, a last
  ** character cut by the end would lead a terminated walk past the four
  ** zero bytes of the block. Such a text fails instead. */
  int n = record->mbfstowcfs_fn(record, wide, reinterpret_cast<const unsigned char *>(text),
                                static_cast<int>(length), static_cast<int>(length + 1));
  if (n < 0) {
    _gl_free_ptr(wide);
    return nullptr;
  }
  wide[length] = 0;
  return wide;
}

namespace {

/* Frees count blocks and the array that holds them; NULL is a no-op. */
template <typename T>
void free_array(T **array, int count) {
  if (array == nullptr) return;
  for (int i = 0; i < count; ++i)
    _gl_free_ptr(array[i]);
  _gl_free_ptr(array);
}

}  // namespace

void free_string_array(char **array, int count) { free_array(array, count); }

void free_wide_array(gl_wchar **array, int count) { free_array(array, count); }

}  // namespace glslib

extern "C" {

void set_collation_fp(gl_locale *record) {
  bool e = record->element_count > 0;
  bool x = record->expansion_count > 0;
  bool b = false;
  for (int p = 0; p < record->pass_count && p < GL_MAX_PASSES; ++p)
    if (record->pass_flags[p] == 2) b = true;
  record->mbsxfrm_fn = gl_full_mbsxfrm;
  if (record->coll_kind == 2) {
    record->mbscoll_fn = _gl_thaismocoll;
    record->mbfscoll_fn = _dvz_gl_thaismoncoll;
    record->mbsxfrm_fn = _gl_thaismoxfrm;
  } else if (!record->single_byte) {
    record->mbscoll_fn = _gl_im_mbscoll;
    record->mbfscoll_fn = _dvz_gl_im_mbfscoll;
  } else if (x && !e && !b) {
    record->mbscoll_fn = _gl_is_mbscoll_exp;
    record->mbfscoll_fn = _dvz_gl_is_mbfscoll_exp;
  } else if (e && !x && !b) {
    record->mbscoll_fn = _gl_is_mbscoll_elem;
    record->mbfscoll_fn = _dvz_gl_is_mbfscoll_elem;
  } else if (!e && !x) {
    record->mbscoll_fn = _gl_is_mbscoll_back;
    record->mbfscoll_fn = _dvz_gl_is_mbfscoll_back;
  } else if (e && x && !b) {
    record->mbscoll_fn = _gl_is_mbscoll_exp_elem;
    record->mbfscoll_fn = _dvz_gl_is_mbfscoll_exp_elem;
  } else {
    record->mbscoll_fn = _gl_im_mbscoll;
    record->mbfscoll_fn = _dvz_gl_im_mbfscoll;
  }
}

}  // extern "C"

namespace {

/* The first part of the update: byte maps of a single-byte locale, the
** conversion and collation slots and the collation cache (kept until CTYPE
** or COLLATE is freed). 0, or -1 with error 3. */
int set_function_pointers(gl_locale *record) {
  const gl_multi_t *ctype = record->ctype_table;
  record->single_byte = ctype != nullptr && ctype->max_length == 1 ? 1 : 0;
  if (record->single_byte) {
    auto *upper = static_cast<unsigned char *>(_gl_alloc_ptr(256));
    auto *lower = static_cast<unsigned char *>(_gl_alloc_ptr(256));
    auto *classes = alloc_zeroed<uint16_t>(256);
    if (upper == nullptr || lower == nullptr || classes == nullptr) {
      _gl_free_ptr(upper);
      _gl_free_ptr(lower);
      _gl_free_ptr(classes);
      store_error(record, GL_ENOMEM);
      return -1;
    }
    for (int b = 0; b < 256; ++b) {
      if (record->upper_map != nullptr) {
        upper[b] = record->upper_map[b];
      } else {
        gl_wchar u = _gl_im_towupper(record, static_cast<gl_wchar>(b));
        upper[b] = static_cast<unsigned char>(u <= 0xFF ? u : static_cast<gl_wchar>(b));
      }
      if (record->lower_map != nullptr) {
        lower[b] = record->lower_map[b];
      } else {
        gl_wchar l = _gl_im_towlower(record, static_cast<gl_wchar>(b));
        lower[b] = static_cast<unsigned char>(l <= 0xFF ? l : static_cast<gl_wchar>(b));
      }
      /* The class mask the root holds for the byte (its default entry
      ** when the root has no data). */
      const unsigned char *entry = ctype->root != nullptr
                                       ? glslib::multi::entry_of(ctype, ctype->root, b)
                                       : ctype->default_entry;
      classes[b] = glslib::multi::entry_u16(ctype, entry);
    }
    free_byte_maps(record);
    record->upper_map = upper;
    record->lower_map = lower;
    record->class_map = classes;
    record->mbstowcs_fn = _gl_is_mbstowcs;
    record->mbfstowcfs_fn = _dvz_gl_is_mbfstowcfs;
  } else {
    record->mbstowcs_fn = _gl_im_mbstowcs;
    record->mbfstowcfs_fn = _dvz_gl_im_mbfstowcfs;
  }
  set_collation_fp(record);
  glslib::build_collation_cache(record);
  return 0;
}

/* A fresh copy of a text for glconv with its wide form; NULL pair when the
** source is NULL or holds 256 bytes or more. */
gl_text_pair conv_copy(gl_locale *record, const char *source) {
  gl_text_pair pair {};
  if (source == nullptr) return pair;
  std::size_t j = 0;
  while (j < 256 &&
         (source[j] != 0 || source[j + 1] != 0 || source[j + 2] != 0 || source[j + 3] != 0))
    ++j;
  if (j >= 256) return pair;
  pair.mb = glslib::copy_text(record, source, j);
  pair.wc = widen_text(record, pair.mb);
  return pair;
}

char *conv_grouping(gl_locale *record, const gl_grouping &group) {
  if (group.count <= 0 || group.count > 255) return nullptr;
  auto *bytes = static_cast<char *>(_gl_alloc_ptr(static_cast<std::size_t>(group.count) + 1));
  if (bytes == nullptr) {
    store_error(record, GL_ENOMEM);
    return nullptr;
  }
  for (int i = 0; i < group.count; ++i)
    bytes[i] = static_cast<char>(group.sizes[i]);
  bytes[group.count] = 0;
  return bytes;
}

signed char conv_int(int32_t value) {
  return value == GL_MON_NA ? 127 : static_cast<signed char>(value & 0xFF);
}

/* ---- Category initialisation ------------------------------------------------------ */

/* Wide forms of pairs whose multibyte side is set; a failure leaves that
** wide form NULL (the error word says why). */
void widen_pairs(gl_locale *record, std::initializer_list<gl_text_pair *> pairs) {
  for (gl_text_pair *p : pairs) {
    _gl_free_ptr(p->wc);
    p->wc = widen_text(record, p->mb);
  }
}

/* Widens into *slot; false when a text exists but its wide form cannot be
** made. */
bool widen_into(gl_locale *record, const char *text, gl_wchar **slot) {
  _gl_free_ptr(*slot);
  *slot = widen_text(record, text);
  return text == nullptr || *slot != nullptr;
}

/* Rebuilds one lookup tree from count names (NULL names skipped). */
bool build_tree(gl_locale *record, int which, char *const *names, int count) {
  name_tree_node *&tree = record->ltime.lookup_trees[which];
  _gl_free_wc_cache(record, tree);
  tree = nullptr;
  for (int i = 0; i < count; ++i) {
    if (names[i] == nullptr) continue;
    if (_gl_cache_wc_string(record, &tree, names[i], i) != 0) return false;
  }
  return true;
}

int init_time(gl_locale *record) {
  gl_ltime &t = record->ltime;
  if (t.eras.count != 0 && init_era_info(record) != 0) return -1;

  bool ok = build_tree(record, GL_TREE_ABDAY, t.abday, 7) &&
            build_tree(record, GL_TREE_DAY, t.day, 7) &&
            build_tree(record, GL_TREE_ABMON, t.abmon.mb, t.abmon.count) &&
            build_tree(record, GL_TREE_MON, t.mon.mb, t.mon.count) &&
            build_tree(record, GL_TREE_ALT_DIGITS, t.alt_digits.mb, t.alt_digits.count) &&
            build_tree(record, GL_TREE_AM_PM, t.am_pm, 2);
  if (ok && t.eras.records != nullptr) {
    for (int which : {GL_TREE_ERA_NAME2, GL_TREE_ERA_NAME}) {
      name_tree_node *&tree = t.lookup_trees[which];
      _gl_free_wc_cache(record, tree);
      tree = nullptr;
      for (int i = 0; ok && i < t.eras.count; ++i) {
        const era_record *era = t.eras.records[i];
        const char *name = which == GL_TREE_ERA_NAME2 ? era->era_name2 : era->era_name;
        if (name != nullptr && _gl_cache_wc_string(record, &tree, name, i) != 0) ok = false;
      }
    }
  } else if (ok) {
    for (int which : {GL_TREE_ERA_NAME2, GL_TREE_ERA_NAME}) {
      _gl_free_wc_cache(record, t.lookup_trees[which]);
      t.lookup_trees[which] = nullptr;
    }
  }
  if (!ok) return -1;

  char *formats[] = {t.d_fmt,     t.d_t_fmt,     t.t_fmt,    t.t_fmt_ampm,
                     t.era_d_fmt, t.era_d_t_fmt, t.era_t_fmt};
  gl_wchar **wide[] = {&t.d_fmt_wc,     &t.d_t_fmt_wc,     &t.t_fmt_wc,    &t.t_fmt_ampm_wc,
                       &t.era_d_fmt_wc, &t.era_d_t_fmt_wc, &t.era_t_fmt_wc};
  for (std::size_t i = 0; i < 7; ++i)
    if (!widen_into(record, formats[i], wide[i])) return -1;
  if (t.eras.records != nullptr)
    for (int i = 0; i < t.eras.count; ++i)
      if (!widen_into(record, t.eras.records[i]->era_year_format,
                      &t.eras.records[i]->era_year_format_wc))
        return -1;
  for (gl_text_list *list : {&t.abmon, &t.mon, &t.alt_digits})
    for (int i = 0; i < list->count; ++i)
      if (!widen_into(record, list->mb[i], &list->wc[i])) return -1;
  for (int i = 0; i < 7; ++i)
    if (!widen_into(record, t.abday[i], &t.abday_wc[i]) ||
        !widen_into(record, t.day[i], &t.day_wc[i]))
      return -1;
  for (int i = 0; i < 2; ++i)
    if (!widen_into(record, t.am_pm[i], &t.am_pm_wc[i])) return -1;
  if (!widen_into(record, t.era_joined.mb, &t.era_joined.wc) ||
      !widen_into(record, t.alt_digits_joined.mb, &t.alt_digits_joined.wc))
    return -1;
  return 1;
}

/* Runs after NUMERIC, MONETARY, TIME or MESSAGES is read: 1 success, 0 */

/* A code-set name with its registry number (GL_CS_NONE when the name does
** not resolve). */
struct codeset_key {
  const char *name;
  uint16_t number;
};

/* Looks name up in the registry; the lookup's errors are not kept. */
codeset_key resolve_codeset(gl_locale *record, const char *name) {
  const int saved = glslib::load_error(record);
  codeset_key key {name, gl_cs_name2cs_num(record, name, nullptr)};
  store_error(record, saved);
  return key;
}

/* Both numbers when both resolve, else the names case-folded: without a
** registry every number is GL_CS_NONE, and equal numbers would pass any
** two code sets. */
bool same_codeset(const codeset_key &a, const codeset_key &b) {
  if (a.number != GL_CS_NONE && b.number != GL_CS_NONE) return a.number == b.number;
  std::size_t i = 0;
  for (; a.name[i] != '\0' && b.name[i] != '\0'; ++i) {
    if (glslib::ascii::to_lower(a.name[i]) != glslib::ascii::to_lower(b.name[i])) return false;
  }
  return a.name[i] == b.name[i];
}

}  // namespace

namespace glslib {

bool same_codeset(gl_locale *record, const char *a, const char *b) {
  return ::same_codeset(resolve_codeset(record, a), resolve_codeset(record, b));
}

int update_locale(gl_locale *record) {
  record->codeset_order = record->codeset_order_word != 0 ? 1 : 0;
  if (set_function_pointers(record) != 0) return -1;
  /* A null category carries no code set and so cannot disagree. */
  if (record->codeset_names[0][0] == '\0') return 0;
  const codeset_key ctype = resolve_codeset(record, record->codeset_names[0]);
  bool differ = false;
  for (int category = GL_COLLATE; category <= GL_TIME && !differ; ++category) {
    const char *name = record->codeset_names[category_slot(category)];
    if (name[0] == '\0') continue;
    differ = !::same_codeset(ctype, resolve_codeset(record, name));
  }
  if (differ) store_error(record, GL_ECSMISMATCH);
  return 0;
}

void copy_numeric_conv(gl_locale *record) {
  free_numeric_conv(record);
  glconv &c = record->conv;
  c.decimal_point = conv_copy(record, record->decimal_point.mb);
  c.thousands_sep = conv_copy(record, record->thousands_sep.mb);
  c.grouping = conv_grouping(record, record->grouping);
  c.num_positive_sign = conv_copy(record, record->num_positive_sign.mb);
  c.num_negative_sign = conv_copy(record, record->num_negative_sign.mb);
}

void copy_monetary_conv(gl_locale *record) {
  free_monetary_conv(record);
  glconv &c = record->conv;
  c.int_curr_symbol = conv_copy(record, record->int_curr_symbol.mb);
  c.currency_symbol = conv_copy(record, record->currency_symbol.mb);
  c.mon_decimal_point = conv_copy(record, record->mon_decimal_point.mb);
  c.mon_thousands_sep = conv_copy(record, record->mon_thousands_sep.mb);
  c.mon_grouping = conv_grouping(record, record->mon_grouping);
  c.positive_sign = conv_copy(record, record->positive_sign.mb);
  c.negative_sign = conv_copy(record, record->negative_sign.mb);
  const int32_t *v = record->mon_ints;
  c.int_frac_digits = conv_int(v[GL_INT_FRAC_DIGITS]);
  c.frac_digits = conv_int(v[GL_FRAC_DIGITS]);
  c.p_cs_precedes = conv_int(v[GL_P_CS_PRECEDES]);
  c.p_sep_by_space = conv_int(v[GL_P_SEP_BY_SPACE]);
  c.n_cs_precedes = conv_int(v[GL_N_CS_PRECEDES]);
  c.n_sep_by_space = conv_int(v[GL_N_SEP_BY_SPACE]);
  c.p_sign_posn = conv_int(v[GL_P_SIGN_POSN]);
  c.n_sign_posn = conv_int(v[GL_N_SIGN_POSN]);
}

/* (error 57) when no CTYPE is loaded, -1 failure. */
int init_category(gl_locale *record, int category) {
  if (record->ctype_table == nullptr) return -1;
  if (set_function_pointers(record) != 0) return -1;
  if (record->ctype_table->max_length < 1) {
    store_error(record, GL_ENOCTYPE);
    return 0;
  }
  switch (category) {
    case GL_NUMERIC:
      widen_pairs(record, {&record->decimal_point, &record->thousands_sep,
                           &record->num_positive_sign, &record->num_negative_sign});
      copy_numeric_conv(record);
      return 1;
    case GL_MONETARY:
      widen_pairs(record,
                  {&record->int_curr_symbol, &record->currency_symbol, &record->mon_decimal_point,
                   &record->mon_thousands_sep, &record->positive_sign, &record->negative_sign});
      copy_monetary_conv(record);
      return 1;
    case GL_MESSAGES:
      widen_pairs(record, {&record->yes_expr, &record->no_expr, &record->yes_str, &record->no_str});
      return 1;
    case GL_TIME:
      return init_time(record);
  }
  return -1;
}

}  // namespace glslib
