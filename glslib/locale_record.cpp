/*
** The locale record's lifecycle: creation with every category null,
** making a category null, freeing a category or the whole record, and
** copying categories between records; the category keys, section markers
** and the two static records.
**
** Callers: the client environment (one record per locale), the loader
** (locale_load.cpp), tests and tools. Calls: the multi-level tables, the
** derived data (locale_derived.cpp: byte maps, glconv, the update) and the
** name trees.
**
** Sharing: gl_copy_cat makes a target's category point at the source's
** data; the target marks it in shared_categories and freeing or reloading
** the target then only drops those pointers. Every pointer is cleared as it
** is freed, so no block is freed twice. The collation cache is never
** shared: freeing CTYPE or COLLATE frees it, and the update after a load
** or copy builds the record's own.
*/

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "locale_internal.h"

using glslib::category_slot;
using glslib::free_block;
using glslib::free_pair;
using glslib::is_static_record;
using glslib::store_error;

namespace {

/* A static record: the error word set, every other field zero. */
constexpr gl_locale static_record(int error) {
  gl_locale record {};
  record.error = error;
  return record;
}

}  // namespace

extern "C" {

const char *const category_params[8] = {
    "", "", "GL_CTYPE", "GL_COLLATE", "GL_NUMERIC", "GL_MONETARY", "GL_TIME", "GL_MESSAGES"};
const char *const category_markers[8] = {"",
                                         "",
                                         "### LC_CTYPE\n",
                                         "### LC_COLLATE\n",
                                         "### LC_NUMERIC\n",
                                         "### LC_MONETARY\n",
                                         "### LC_TIME\n",
                                         "### LC_MESSAGES\n"};

gl_locale loc_nomem = static_record(GL_ENOMEM);
gl_locale loc_filer = static_record(GL_ENOFILE);

}  // extern "C"

namespace {

/* The COLLATE fields from pass_count through coll_kind are copied and
** cleared as one block. */
char *collate_block(gl_locale *record) { return reinterpret_cast<char *>(&record->pass_count); }

std::size_t collate_block_size(const gl_locale *record) {
  return static_cast<std::size_t>(reinterpret_cast<const char *>(&record->coll_kind + 1) -
                                  reinterpret_cast<const char *>(&record->pass_count));
}

unsigned bit(int category) { return 1u << category_slot(category); }

bool is_shared(const gl_locale *record, int category) {
  return (static_cast<unsigned>(record->shared_categories) & bit(category)) != 0;
}

gl_multi_t *new_table(gl_locale *record) {
  gl_multi_t *table = _gl_create_multi(2, GL_MULTI_VALID, nullptr);
  if (table == nullptr) store_error(record, GL_ENOMEM);
  return table;
}

void empty_names(gl_locale *record, int category) {
  int i = category_slot(category);
  std::memset(record->codeset_names[i], 0, sizeof record->codeset_names[i]);
  std::memset(record->codeset_names_wc[i], 0, sizeof record->codeset_names_wc[i]);
  std::memset(record->file_names[i], 0, sizeof record->file_names[i]);
  std::memset(record->file_names_wc[i], 0, sizeof record->file_names_wc[i]);
}

/* ---- Freeing the categories ------------------------------------------------ */

void free_ctype(gl_locale *record) {
  _gl_free_multi(record->ctype_table);
  _gl_free_multi(record->case_table);
  record->ctype_table = nullptr;
  record->case_table = nullptr;
  if (record->classes != nullptr)
    for (int i = 0; i < record->class_count; ++i)
      _gl_free_ptr(record->classes[i].name);
  free_block(&record->classes);
  record->class_count = 0;
  free_block(&record->case_pairs);
  record->case_pair_count = 0;
}

void free_collate(gl_locale *record) {
  _gl_free_multi(record->coll_table);
  record->coll_table = nullptr;
  for (auto &w : record->weights)
    free_block(&w);
  if (record->elements != nullptr)
    for (int i = 0; i < record->element_count; ++i)
      _gl_free_ptr(record->elements[i].characters);
  free_block(&record->elements);
  if (record->expansions != nullptr)
    for (int i = 0; i < record->expansion_count; ++i)
      _gl_free_ptr(record->expansions[i].characters);
  free_block(&record->expansions);
  for (auto &c : record->expansion_candidates)
    free_block(&c);
  free_block(&record->element_candidates);
  if (record->ignorable_chars != nullptr)
    for (char **s = record->ignorable_chars; *s != nullptr; ++s)
      _gl_free_ptr(*s);
  free_block(&record->ignorable_chars);
  if (gl_equiv_pair *pairs = record->equivalent_chars; pairs != nullptr) {
    for (std::size_t i = 0; pairs[i].member != nullptr; ++i) {
      _gl_free_ptr(pairs[i].member);
      /* Consecutive pairs of one class share the representative. */
      if (pairs[i + 1].member == nullptr || pairs[i + 1].representative != pairs[i].representative)
        _gl_free_ptr(pairs[i].representative);
    }
  }
  free_block(&record->equivalent_chars);
}

void free_time(gl_locale *record) {
  gl_ltime &t = record->ltime;
  for (int i = 0; i < 7; ++i) {
    free_block(&t.abday[i]);
    free_block(&t.abday_wc[i]);
    free_block(&t.day[i]);
    free_block(&t.day_wc[i]);
  }
  for (gl_text_list *list : {&t.abmon, &t.mon, &t.alt_digits}) {
    glslib::free_string_array(list->mb, list->count);
    glslib::free_wide_array(list->wc, list->count);
    list->mb = nullptr;
    list->wc = nullptr;
    list->count = 0;
  }
  for (int i = 0; i < 2; ++i) {
    free_block(&t.am_pm[i]);
    free_block(&t.am_pm_wc[i]);
  }
  char **formats[] = {&t.d_fmt,     &t.d_t_fmt,     &t.t_fmt,    &t.t_fmt_ampm,
                      &t.era_d_fmt, &t.era_d_t_fmt, &t.era_t_fmt};
  gl_wchar **wide[] = {&t.d_fmt_wc,     &t.d_t_fmt_wc,     &t.t_fmt_wc,    &t.t_fmt_ampm_wc,
                       &t.era_d_fmt_wc, &t.era_d_t_fmt_wc, &t.era_t_fmt_wc};
  for (char **f : formats)
    free_block(f);
  for (gl_wchar **w : wide)
    free_block(w);
  glslib::free_era_records(&t);
  glslib::free_string_array(t.eras.strings, t.eras.count);
  t.eras.strings = nullptr;
  t.eras.count = 0;
  free_pair(&t.era_joined);
  free_pair(&t.alt_digits_joined);
  for (auto &tree : t.lookup_trees) {
    _gl_free_wc_cache(record, tree);
    tree = nullptr;
  }
}

/* Clears a category's fields without freeing what they point at, and its
** bit in shared_categories. The glconv copies, grouping sizes and MONETARY
** integers are left to the caller. */
void clear_category(gl_locale *record, int category) {
  switch (category) {
    case GL_CTYPE:
      record->ctype_table = record->case_table = nullptr;
      record->classes = nullptr;
      record->case_pairs = nullptr;
      record->class_count = record->case_pair_count = 0;
      break;
    case GL_COLLATE:
      record->coll_table = nullptr;
      std::memset(collate_block(record), 0, collate_block_size(record));
      record->ignorable_chars = nullptr;
      record->equivalent_chars = nullptr;
      break;
    case GL_NUMERIC:
      record->decimal_point = record->thousands_sep = gl_text_pair {};
      record->num_positive_sign = record->num_negative_sign = gl_text_pair {};
      break;
    case GL_MONETARY:
      record->int_curr_symbol = record->currency_symbol = gl_text_pair {};
      record->mon_decimal_point = record->mon_thousands_sep = gl_text_pair {};
      record->positive_sign = record->negative_sign = gl_text_pair {};
      break;
    case GL_TIME:
      std::memset(&record->ltime, 0, sizeof record->ltime);
      break;
    case GL_MESSAGES:
      record->yes_expr = record->no_expr = record->yes_str = record->no_str = gl_text_pair {};
      break;
  }
  record->shared_categories =
      static_cast<int32_t>(static_cast<unsigned>(record->shared_categories) & ~bit(category));
}

/* Drops a shared category's pointers without freeing what they point at;
** what the target made for itself (byte maps, glconv copies, era records)
** is freed. */
void drop_shared(gl_locale *record, int category) {
  /* The parsed era records are the target's own. */
  if (category == GL_TIME) glslib::free_era_records(&record->ltime);
  clear_category(record, category);
  if (category == GL_NUMERIC) glslib::free_numeric_conv(record);
  if (category == GL_MONETARY) glslib::free_monetary_conv(record);
}

}  // namespace

extern "C" {

void gl_free_category(gl_locale *record, int category) {
  if (record == nullptr || is_static_record(record) || category < GL_CTYPE ||
      category > GL_MESSAGES)
    return;
  /* Derived from both, the record's own whether or not they are shared. */
  if (category == GL_CTYPE || category == GL_COLLATE) glslib::free_collation_cache(record);
  if (is_shared(record, category)) {
    if (category == GL_CTYPE) glslib::free_byte_maps(record);
    drop_shared(record, category);
    empty_names(record, category);
    return;
  }
  switch (category) {
    case GL_CTYPE:
      free_ctype(record);
      glslib::free_byte_maps(record);
      break;
    case GL_COLLATE:
      free_collate(record);
      break;
    case GL_NUMERIC:
      free_pair(&record->decimal_point);
      free_pair(&record->thousands_sep);
      free_pair(&record->num_positive_sign);
      free_pair(&record->num_negative_sign);
      glslib::free_numeric_conv(record);
      break;
    case GL_MONETARY:
      for (gl_text_pair *p :
           {&record->int_curr_symbol, &record->currency_symbol, &record->mon_decimal_point,
            &record->mon_thousands_sep, &record->positive_sign, &record->negative_sign})
        free_pair(p);
      glslib::free_monetary_conv(record);
      break;
    case GL_TIME:
      free_time(record);
      break;
    case GL_MESSAGES:
      for (gl_text_pair *p :
           {&record->yes_expr, &record->no_expr, &record->yes_str, &record->no_str})
        free_pair(p);
      break;
  }
  empty_names(record, category);
}

void gl_make_null_category(gl_locale *record, int category) {
  if (record == nullptr || is_static_record(record) || category < GL_CTYPE ||
      category > GL_MESSAGES)
    return;
  /* The blocks were freed (or were another record's); the collation cache
  ** is the record's own. */
  if (category == GL_CTYPE || category == GL_COLLATE) glslib::free_collation_cache(record);
  clear_category(record, category);
  switch (category) {
    case GL_CTYPE:
      record->ctype_table = new_table(record);
      record->case_table = new_table(record);
      glslib::free_byte_maps(record);
      break;
    case GL_COLLATE:
      record->coll_table = new_table(record);
      break;
    case GL_NUMERIC:
      record->grouping = gl_grouping {};
      glslib::free_numeric_conv(record);
      break;
    case GL_MONETARY:
      record->mon_grouping = gl_grouping {};
      for (auto &v : record->mon_ints)
        v = GL_MON_NA;
      glslib::free_monetary_conv(record);
      break;
  }
  empty_names(record, category);
}

int gl_create_null_locale_4(gl_locale **record) {
  auto *r = static_cast<gl_locale *>(_gl_alloc_ptr(sizeof(gl_locale)));
  if (r == nullptr) {
    *record = &loc_nomem;
    return -1;
  }
  std::memset(r, 0, sizeof *r);
  r->error = 0;
  *record = r;
  r->case_expansion = 1.0;
  r->coll_expansion = 1.0;
  /* Until the first load the slots hold the general routines, which fail
  ** cleanly on an empty CTYPE, so a stray call never jumps through NULL. */
  r->mbstowcs_fn = _gl_im_mbstowcs;
  r->mbfstowcfs_fn = _dvz_gl_im_mbfstowcfs;
  r->mbscoll_fn = _gl_im_mbscoll;
  r->mbfscoll_fn = _dvz_gl_im_mbfscoll;
  r->mbsxfrm_fn = gl_full_mbsxfrm;
  for (int category = GL_CTYPE; category <= GL_MESSAGES; ++category)
    gl_make_null_category(r, category);
  return 0;
}

void gl_lc_unload(gl_locale *record) {
  if (record == nullptr || is_static_record(record)) return;
  char text[64];
  std::snprintf(text, sizeof text, "freeing locale 0x%lx",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(record)));
  gl_message(text);
  gl_free_nonshared_loc(record);
}

void gl_free_nonshared_loc(gl_locale *record) {
  if (record == nullptr || is_static_record(record)) return;
  for (int category = GL_CTYPE; category <= GL_MESSAGES; ++category)
    gl_free_category(record, category);
  glslib::free_byte_maps(record);
  _gl_free_ptr(record);
}

int gl_copy_cat(gl_locale *target, gl_locale *source, int category) {
  if (target == nullptr || source == nullptr || is_static_record(target)) return -1;
  if (category < GL_ALL || category > GL_MESSAGES) {
    store_error(target, GL_EBADARG);
    return -1;
  }
  int first = category == GL_ALL ? GL_CTYPE : category;
  int last = category == GL_ALL ? GL_MESSAGES : category;
  for (int c = first; c <= last; ++c) {
    int i = category_slot(c);
    if (source->file_names[i][0] == '\0' || source->codeset_names[i][0] == '\0') {
      store_error(target, GL_ENOTLOADED);
      return -1;
    }
    if (target->file_names[i][0] != '\0' || target->codeset_names[i][0] != '\0') {
      store_error(target, GL_EALREADY);
      return -1;
    }
  }
  for (int c = first; c <= last; ++c) {
    gl_free_category(target, c);
    switch (c) {
      case GL_CTYPE:
        target->ctype_table = source->ctype_table;
        target->case_table = source->case_table;
        target->class_count = source->class_count;
        target->classes = source->classes;
        target->case_pairs = source->case_pairs;
        target->case_pair_count = source->case_pair_count;
        /* Case conversions size their output from it. */
        target->case_expansion = source->case_expansion;
        break;
      case GL_COLLATE:
        target->coll_table = source->coll_table;
        std::memcpy(collate_block(target), collate_block(source), collate_block_size(source));
        target->ignorable_chars = source->ignorable_chars;
        target->equivalent_chars = source->equivalent_chars;
        /* The pattern matcher sizes its buffers from it. */
        target->coll_expansion = source->coll_expansion;
        break;
      case GL_NUMERIC:
        target->decimal_point = source->decimal_point;
        target->thousands_sep = source->thousands_sep;
        target->grouping = source->grouping;
        target->num_positive_sign = source->num_positive_sign;
        target->num_negative_sign = source->num_negative_sign;
        break;
      case GL_MONETARY:
        target->int_curr_symbol = source->int_curr_symbol;
        target->currency_symbol = source->currency_symbol;
        target->mon_decimal_point = source->mon_decimal_point;
        target->mon_thousands_sep = source->mon_thousands_sep;
        target->mon_grouping = source->mon_grouping;
        target->positive_sign = source->positive_sign;
        target->negative_sign = source->negative_sign;
        std::memcpy(target->mon_ints, source->mon_ints, sizeof target->mon_ints);
        break;
      case GL_TIME:
        target->ltime = source->ltime;
        target->ltime.eras.records = nullptr;
        break;
      case GL_MESSAGES:
        target->yes_expr = source->yes_expr;
        target->no_expr = source->no_expr;
        target->yes_str = source->yes_str;
        target->no_str = source->no_str;
        break;
    }
    target->shared_categories =
        static_cast<int32_t>(static_cast<unsigned>(target->shared_categories) | bit(c));
    int i = category_slot(c);
    std::memcpy(target->codeset_names[i], source->codeset_names[i], GL_CS_NAME_SLOT);
    std::memcpy(target->file_names[i], source->file_names[i], GL_FILE_NAME_SLOT);
  }
  glslib::update_locale(target);
  /* Fresh glconv copies, made with the target's own conversion slots. */
  if (first <= GL_NUMERIC && GL_NUMERIC <= last) glslib::copy_numeric_conv(target);
  if (first <= GL_MONETARY && GL_MONETARY <= last) glslib::copy_monetary_conv(target);
  glslib::widen_names(target);
  return 0;
}

}  // extern "C"
