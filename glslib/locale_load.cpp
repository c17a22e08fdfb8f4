// The locale record: creation with every category null, loading of one or
// all categories from locale files named by a specification, the derived
// data rebuilt after each load (byte maps, function slots, wide forms,
// glconv), the code-set check, copying categories between records and
// freeing records.
//
// Callers: the client environment (one record per locale), the tests and
// tools. Calls: the file search and host services, the code-set registry,
// the section readers (locale_readers.cpp), the character layer (wide
// conversions, case partners) and the name-lookup trees.
//
// Sharing: gl_copy_cat makes a target's category point at the source's
// data; the target marks it in shared_categories and freeing or reloading
// the target then only drops those pointers. Every pointer is cleared as it
// is freed, so no block is freed twice.

#include "gl_locale.h"
#include "gl_registry.h"
#include "locale_internal.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

using glslib::alloc_zeroed;
using glslib::load_error;
using glslib::store_error;

namespace {

// A static record: the error word set, every other field zero.
constexpr gl_locale static_record(int error) {
    gl_locale record{};
    record.error = error;
    return record;
}

}  // namespace

extern "C" {

const char *const category_params[8] = {"",        "",        "GL_CTYPE", "GL_COLLATE",
                                        "GL_NUMERIC", "GL_MONETARY", "GL_TIME", "GL_MESSAGES"};
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

constexpr const char *kDefaultFile = "default.lco";
constexpr const char *kNative = "native";
constexpr int kBadCategory = GL_EBADARG;

bool is_static(const gl_locale *record) { return record == &loc_nomem || record == &loc_filer; }

int slot(int category) { return category - GL_CTYPE; }

// The COLLATE fields from pass_count through coll_kind are copied and
// cleared as one block.
char *collate_block(gl_locale *record) { return reinterpret_cast<char *>(&record->pass_count); }

std::size_t collate_block_size(const gl_locale *record) {
    return static_cast<std::size_t>(reinterpret_cast<const char *>(&record->coll_kind + 1) -
                                    reinterpret_cast<const char *>(&record->pass_count));
}

unsigned bit(int category) { return 1u << slot(category); }

bool is_shared(const gl_locale *record, int category) {
    return (static_cast<unsigned>(record->shared_categories) & bit(category)) != 0;
}

void free_pair(gl_text_pair *pair) {
    _gl_free_ptr(pair->mb);
    _gl_free_ptr(pair->wc);
    pair->mb = nullptr;
    pair->wc = nullptr;
}

void free_block(void *pointer_to_pointer) {
    auto **slot_ptr = static_cast<void **>(pointer_to_pointer);
    _gl_free_ptr(*slot_ptr);
    *slot_ptr = nullptr;
}

void free_maps(gl_locale *record) {
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

gl_multi_t *new_table(gl_locale *record) {
    gl_multi_t *table = _gl_create_multi(2, GL_MULTI_VALID, nullptr);
    if (table == nullptr) store_error(record, GL_ENOMEM);
    return table;
}

void empty_names(gl_locale *record, int category) {
    int i = slot(category);
    std::memset(record->codeset_names[i], 0, sizeof record->codeset_names[i]);
    std::memset(record->codeset_names_wc[i], 0, sizeof record->codeset_names_wc[i]);
    std::memset(record->file_names[i], 0, sizeof record->file_names[i]);
    std::memset(record->file_names_wc[i], 0, sizeof record->file_names_wc[i]);
}

void widen_names(gl_locale *record) {
    for (int i = 0; i < GL_CATEGORY_COUNT; ++i) {
        for (int j = 0; j < GL_CS_NAME_SLOT; ++j)
            record->codeset_names_wc[i][j] = static_cast<unsigned char>(record->codeset_names[i][j]);
        for (int j = 0; j < GL_FILE_NAME_SLOT; ++j)
            record->file_names_wc[i][j] = static_cast<unsigned char>(record->file_names[i][j]);
    }
}

// ---- Freeing the categories ------------------------------------------------

void free_ctype(gl_locale *record) {
    _gl_free_multi(record->ctype_table);
    _gl_free_multi(record->case_table);
    record->ctype_table = nullptr;
    record->case_table = nullptr;
    if (record->classes != nullptr)
        for (int i = 0; i < record->class_count; ++i) _gl_free_ptr(record->classes[i].name);
    free_block(&record->classes);
    record->class_count = 0;
    free_block(&record->case_pairs);
    record->case_pair_count = 0;
}

void free_collate(gl_locale *record) {
    _gl_free_multi(record->coll_table);
    record->coll_table = nullptr;
    for (auto &w : record->weights) free_block(&w);
    if (record->elements != nullptr)
        for (int i = 0; i < record->element_count; ++i) _gl_free_ptr(record->elements[i].characters);
    free_block(&record->elements);
    if (record->expansions != nullptr)
        for (int i = 0; i < record->expansion_count; ++i) _gl_free_ptr(record->expansions[i].characters);
    free_block(&record->expansions);
    for (auto &c : record->expansion_candidates) free_block(&c);
    free_block(&record->element_candidates);
    if (record->ignorable_chars != nullptr)
        for (char **s = record->ignorable_chars; *s != nullptr; ++s) _gl_free_ptr(*s);
    free_block(&record->ignorable_chars);
    if (gl_equiv_pair *pairs = record->equivalent_chars; pairs != nullptr) {
        for (std::size_t i = 0; pairs[i].member != nullptr; ++i) {
            _gl_free_ptr(pairs[i].member);
            // Consecutive pairs of one class share the representative.
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
    char **formats[] = {&t.d_fmt, &t.d_t_fmt, &t.t_fmt, &t.t_fmt_ampm,
                        &t.era_d_fmt, &t.era_d_t_fmt, &t.era_t_fmt};
    gl_wchar **wide[] = {&t.d_fmt_wc, &t.d_t_fmt_wc, &t.t_fmt_wc, &t.t_fmt_ampm_wc,
                         &t.era_d_fmt_wc, &t.era_d_t_fmt_wc, &t.era_t_fmt_wc};
    for (char **f : formats) free_block(f);
    for (gl_wchar **w : wide) free_block(w);
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

// Clears a category's fields without freeing what they point at, and its
// bit in shared_categories. The glconv copies, grouping sizes and MONETARY
// integers are left to the caller.
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
        record->decimal_point = record->thousands_sep = gl_text_pair{};
        record->num_positive_sign = record->num_negative_sign = gl_text_pair{};
        break;
    case GL_MONETARY:
        record->int_curr_symbol = record->currency_symbol = gl_text_pair{};
        record->mon_decimal_point = record->mon_thousands_sep = gl_text_pair{};
        record->positive_sign = record->negative_sign = gl_text_pair{};
        break;
    case GL_TIME:
        std::memset(&record->ltime, 0, sizeof record->ltime);
        break;
    case GL_MESSAGES:
        record->yes_expr = record->no_expr = record->yes_str = record->no_str = gl_text_pair{};
        break;
    }
    record->shared_categories = static_cast<int32_t>(static_cast<unsigned>(record->shared_categories) & ~bit(category));
}

// Drops a shared category's pointers without freeing what they point at;
// what the target made for itself (byte maps, glconv copies, era records)
// is freed.
void drop_shared(gl_locale *record, int category) {
    // The parsed era records are the target's own.
    if (category == GL_TIME) glslib::free_era_records(&record->ltime);
    clear_category(record, category);
    if (category == GL_NUMERIC) free_numeric_conv(record);
    if (category == GL_MONETARY) free_monetary_conv(record);
}

}  // namespace

extern "C" {

void gl_free_category(gl_locale *record, int category) {
    if (record == nullptr || is_static(record) || category < GL_CTYPE || category > GL_MESSAGES) return;
    if (is_shared(record, category)) {
        if (category == GL_CTYPE) free_maps(record);
        drop_shared(record, category);
        empty_names(record, category);
        return;
    }
    switch (category) {
    case GL_CTYPE:
        free_ctype(record);
        free_maps(record);
        break;
    case GL_COLLATE:
        free_collate(record);
        break;
    case GL_NUMERIC:
        free_pair(&record->decimal_point);
        free_pair(&record->thousands_sep);
        free_pair(&record->num_positive_sign);
        free_pair(&record->num_negative_sign);
        free_numeric_conv(record);
        break;
    case GL_MONETARY:
        for (gl_text_pair *p : {&record->int_curr_symbol, &record->currency_symbol,
                                &record->mon_decimal_point, &record->mon_thousands_sep,
                                &record->positive_sign, &record->negative_sign})
            free_pair(p);
        free_monetary_conv(record);
        break;
    case GL_TIME:
        free_time(record);
        break;
    case GL_MESSAGES:
        for (gl_text_pair *p : {&record->yes_expr, &record->no_expr, &record->yes_str, &record->no_str})
            free_pair(p);
        break;
    }
    empty_names(record, category);
}

void gl_make_null_category(gl_locale *record, int category) {
    if (record == nullptr || is_static(record) || category < GL_CTYPE || category > GL_MESSAGES) return;
    // The blocks were freed (or were another record's).
    clear_category(record, category);
    switch (category) {
    case GL_CTYPE:
        record->ctype_table = new_table(record);
        record->case_table = new_table(record);
        free_maps(record);
        break;
    case GL_COLLATE:
        record->coll_table = new_table(record);
        break;
    case GL_NUMERIC:
        record->grouping = gl_grouping{};
        free_numeric_conv(record);
        break;
    case GL_MONETARY:
        record->mon_grouping = gl_grouping{};
        for (auto &v : record->mon_ints) v = GL_MON_NA;
        free_monetary_conv(record);
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
    // Until the first load the slots hold the general routines, which fail
    // cleanly on an empty CTYPE, so a stray call never jumps through NULL.
    r->mbstowcs_fn = _gl_im_mbstowcs;
    r->mbfstowcfs_fn = _dvz_gl_im_mbfstowcfs;
    r->mbscoll_fn = _gl_im_mbscoll;
    r->mbfscoll_fn = _dvz_gl_im_mbfscoll;
    r->mbsxfrm_fn = gl_full_mbsxfrm;
    for (int category = GL_CTYPE; category <= GL_MESSAGES; ++category) gl_make_null_category(r, category);
    return 0;
}

void gl_lc_unload(gl_locale *record) {
    if (record == nullptr || is_static(record)) return;
    char text[64];
    std::snprintf(text, sizeof text, "freeing locale 0x%lx",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(record)));
    gl_message(text);
    gl_free_nonshared_loc(record);
}

void gl_free_nonshared_loc(gl_locale *record) {
    if (record == nullptr || is_static(record)) return;
    for (int category = GL_CTYPE; category <= GL_MESSAGES; ++category) gl_free_category(record, category);
    free_maps(record);
    _gl_free_ptr(record);
}

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

// ---- Shared helpers ----------------------------------------------------------

namespace glslib {

int min_char_length(gl_locale *record) {
    int length = gl_mb_loc_min(record);
    return length < 1 ? 1 : (length > 4 ? 4 : length);
}

std::size_t text_length(gl_locale *record, const char *text) {
    if (text == nullptr) return 0;
    std::size_t j = 0;
    while (text[j] != 0 || text[j + 1] != 0 || text[j + 2] != 0 || text[j + 3] != 0) ++j;
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
    // Counted, not terminated: where zero bytes go on a character, a last
    // character cut by the end would lead a terminated walk past the four
    // zero bytes of the block. Such a text fails instead.
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

// Frees count blocks and the array that holds them; NULL is a no-op.
template <typename T>
void free_array(T **array, int count) {
    if (array == nullptr) return;
    for (int i = 0; i < count; ++i) _gl_free_ptr(array[i]);
    _gl_free_ptr(array);
}

}  // namespace

void free_string_array(char **array, int count) { free_array(array, count); }

void free_wide_array(gl_wchar **array, int count) { free_array(array, count); }

}  // namespace glslib

namespace {

using glslib::widen_text;

// ---- The update ---------------------------------------------------------------

// The function-pointer step: byte maps of a single-byte locale and the
// conversion and collation slots. 0, or -1 with error 3.
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
            const multi_arr_t *root = ctype->root;
            const unsigned char *entry =
                root != nullptr && root->data != nullptr
                    ? root->data + (static_cast<std::size_t>(b) << ctype->entry_shift)
                    : ctype->default_entry;
            std::memcpy(&classes[b], entry, sizeof(uint16_t));
        }
        free_maps(record);
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
    return 0;
}

// 0 (error 12 possibly stored), or -1 when the maps cannot be made.
int update_locale(gl_locale *record) {
    record->codeset_order = record->codeset_order_word != 0 ? 1 : 0;
    if (set_function_pointers(record) != 0) return -1;
    // A null category carries no code set and so cannot disagree.
    if (record->codeset_names[0][0] == '\0') return 0;
    int saved = load_error(record);
    uint16_t ctype = gl_cs_name2cs_num(record, record->codeset_names[0], nullptr);
    bool differ = false;
    for (int category = GL_COLLATE; category <= GL_TIME && !differ; ++category) {
        const char *name = record->codeset_names[slot(category)];
        if (name[0] == '\0') continue;
        differ = gl_cs_name2cs_num(record, name, nullptr) != ctype;
    }
    store_error(record, differ ? GL_ECSMISMATCH : saved);
    return 0;
}

// ---- glconv ---------------------------------------------------------------------

// A fresh copy of a text for glconv with its wide form; NULL pair when the
// source is NULL or holds 256 bytes or more.
gl_text_pair conv_copy(gl_locale *record, const char *source) {
    gl_text_pair pair{};
    if (source == nullptr) return pair;
    std::size_t j = 0;
    while (j < 256 && (source[j] != 0 || source[j + 1] != 0 || source[j + 2] != 0 || source[j + 3] != 0)) ++j;
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
    for (int i = 0; i < group.count; ++i) bytes[i] = static_cast<char>(group.sizes[i]);
    bytes[group.count] = 0;
    return bytes;
}

signed char conv_int(int32_t value) {
    return value == GL_MON_NA ? 127 : static_cast<signed char>(value & 0xFF);
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

// ---- Category initialisation ------------------------------------------------------

// Wide forms of pairs whose multibyte side is set; a failure leaves that
// wide form NULL (the error word says why).
void widen_pairs(gl_locale *record, std::initializer_list<gl_text_pair *> pairs) {
    for (gl_text_pair *p : pairs) {
        _gl_free_ptr(p->wc);
        p->wc = widen_text(record, p->mb);
    }
}

// Widens into *slot; false when a text exists but its wide form cannot be
// made.
bool widen_into(gl_locale *record, const char *text, gl_wchar **slot) {
    _gl_free_ptr(*slot);
    *slot = widen_text(record, text);
    return text == nullptr || *slot != nullptr;
}

// Rebuilds one lookup tree from count names (NULL names skipped).
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

    bool ok = build_tree(record, GL_TREE_ABDAY, t.abday, 7) && build_tree(record, GL_TREE_DAY, t.day, 7) &&
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

    char *formats[] = {t.d_fmt, t.d_t_fmt, t.t_fmt, t.t_fmt_ampm, t.era_d_fmt, t.era_d_t_fmt, t.era_t_fmt};
    gl_wchar **wide[] = {&t.d_fmt_wc, &t.d_t_fmt_wc, &t.t_fmt_wc, &t.t_fmt_ampm_wc,
                         &t.era_d_fmt_wc, &t.era_d_t_fmt_wc, &t.era_t_fmt_wc};
    for (std::size_t i = 0; i < 7; ++i)
        if (!widen_into(record, formats[i], wide[i])) return -1;
    if (t.eras.records != nullptr)
        for (int i = 0; i < t.eras.count; ++i)
            if (!widen_into(record, t.eras.records[i]->era_year_format, &t.eras.records[i]->era_year_format_wc))
                return -1;
    for (gl_text_list *list : {&t.abmon, &t.mon, &t.alt_digits})
        for (int i = 0; i < list->count; ++i)
            if (!widen_into(record, list->mb[i], &list->wc[i])) return -1;
    for (int i = 0; i < 7; ++i)
        if (!widen_into(record, t.abday[i], &t.abday_wc[i]) || !widen_into(record, t.day[i], &t.day_wc[i]))
            return -1;
    for (int i = 0; i < 2; ++i)
        if (!widen_into(record, t.am_pm[i], &t.am_pm_wc[i])) return -1;
    if (!widen_into(record, t.era_joined.mb, &t.era_joined.wc) ||
        !widen_into(record, t.alt_digits_joined.mb, &t.alt_digits_joined.wc))
        return -1;
    return 1;
}

// Runs after NUMERIC, MONETARY, TIME or MESSAGES is read: 1 success, 0
// (error 57) when no CTYPE is loaded, -1 failure.
int init_category(gl_locale *record, int category) {
    if (record->ctype_table == nullptr) return -1;
    if (set_function_pointers(record) != 0) return -1;
    if (record->ctype_table->max_length < 1) {
        store_error(record, GL_ENOCTYPE);
        return 0;
    }
    switch (category) {
    case GL_NUMERIC:
        widen_pairs(record, {&record->decimal_point, &record->thousands_sep, &record->num_positive_sign,
                             &record->num_negative_sign});
        copy_numeric_conv(record);
        return 1;
    case GL_MONETARY:
        widen_pairs(record, {&record->int_curr_symbol, &record->currency_symbol, &record->mon_decimal_point,
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

struct SectionTexts {
    const char *read_failed;
    const char *init_failed;
};

constexpr SectionTexts kSectionTexts[8] = {
    {nullptr, nullptr},
    {nullptr, nullptr},
    {nullptr, nullptr},
    {nullptr, nullptr},
    {"Failed to read numeric information", "Failed to initialize numeric information"},
    {"Failed to read monetary information", "Failed to initialize monetary information"},
    {"Failed to read time information", "Failed to initialize time information"},
    {"Failed to read messages information", "Failed to initialize messages information"},
};

}  // namespace

namespace glslib {

int read_section(gl_locale *record, int category, FILE *stream) {
    char line[128];
    for (;;) {
        int length = read_line(stream, line, sizeof line);
        if (length == -1) {
            store_error(record, GL_EBADFILE);
            return 1;
        }
        if (length > 0 && std::strcmp(line, category_markers[category]) == 0) break;
    }
    if (category == GL_CTYPE) return read_ctype(stream, record);
    if (category == GL_COLLATE) return read_collate(stream, record);
    int error = 0;
    int result = -1;
    switch (category) {
    case GL_NUMERIC:
        result = _gl_read_numeric(stream, record, &error);
        break;
    case GL_MONETARY:
        result = _gl_read_monetary(stream, record, &error);
        break;
    case GL_TIME:
        result = _gl_read_time(stream, &record->ltime, &error);
        break;
    case GL_MESSAGES:
        result = _gl_read_messages(stream, record, &error);
        break;
    }
    if (result != 0) {
        store_error(record, error);
        gl_message(kSectionTexts[category].read_failed);
        return 1;
    }
    if (init_category(record, category) < 1) {
        gl_message(kSectionTexts[category].init_failed);
        return 1;
    }
    return 0;
}

}  // namespace glslib

namespace {

// Reads a locale file's header, its code-set name into codeset; false
// with the error word set.
bool read_header(gl_locale *record, FILE *stream, char *codeset) {
    int error = 0;
    if (read_file_header(stream, codeset, &error)) return true;
    store_error(record, error != 0 ? error : GL_EBADFILE);
    return false;
}

// Reads one category from an open locale file. 0 or nonzero.
int read_one_category(gl_locale *record, int category, FILE *stream) {
    char *codeset = record->codeset_names[slot(category)];
    if (!read_header(record, stream, codeset)) return 1;
    if (category != GL_CTYPE) {
        uint16_t ctype = gl_cs_name2cs_num(record, record->codeset_names[0], nullptr);
        uint16_t mine = gl_cs_name2cs_num(record, codeset, nullptr);
        store_error(record, 0);
        if (ctype != mine) {
            store_error(record, GL_ECTYPECS);
            return 1;
        }
    }
    return glslib::read_section(record, category, stream);
}

// Joins pieces into a new block from the host allocator; NULL with error 3.
char *join_path(gl_locale *record, std::initializer_list<const char *> pieces) {
    std::size_t total = 1;
    for (const char *p : pieces) total += std::strlen(p);
    auto *path = static_cast<char *>(_gl_alloc_ptr(total));
    if (path == nullptr) {
        store_error(record, GL_ENOMEM);
        return nullptr;
    }
    path[0] = '\0';
    for (const char *p : pieces) std::strcat(path, p);
    return path;
}

// Opens directory + "/" + name with gl_open_file.
FILE *open_in_directory(gl_locale *record, const char *directory, const char *name) {
    char *path = join_path(record, {directory, "/", name});
    if (path == nullptr) return nullptr;
    FILE *stream = gl_open_file(record, path);
    _gl_free_ptr(path);
    return stream;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Loads one category. loaded receives the name the file was loaded under
// (at most 31 bytes, terminated). 0, or nonzero with the error word set.
int load_category(gl_locale *record, int category, const char *spec, char *loaded, const char *directory) {
    const char *key = category_params[category];
    // The chosen name lives in name_buffer or is one of spec / env / default.
    char name_buffer[GL_LC_SPEC_LIMIT];
    const char *name = nullptr;
    if (spec[0] != '\0') {
        const char *found = std::strstr(spec, key);
        if (found != nullptr) {
            const char *p = std::strchr(found + std::strlen(key), '=');
            if (p == nullptr) {
                store_error(record, GL_EINVAL);  // a key without "="
                return 1;
            }
            ++p;
            while (is_blank(*p)) ++p;
            std::size_t n = 0;
            // Taken whole: a cut name could open another file.
            while (p[n] != '\0' && !is_blank(p[n])) ++n;
            std::memcpy(name_buffer, p, n);
            name_buffer[n] = '\0';
            name = name_buffer;
        } else {
            name = spec;
        }
    } else {
        name = _gl_get_env_var("GL_ALL");
        if (name == nullptr) name = _gl_get_env_var(key);
        if (name == nullptr) name = _gl_get_env_var("GL_LANG");
        if (name == nullptr) name = kDefaultFile;
    }

    const bool native = std::strcmp(name, kNative) == 0;
    FILE *stream = nullptr;
    if (directory != nullptr) {
        stream = open_in_directory(record, directory, native ? kNative : name);
    } else {
        stream = gl_path_search(record, native ? kDefaultFile : name, "lc", "11");
    }
    if (stream == nullptr) {
        if (load_error(record) == 0) store_error(record, GL_ENOFILE);
        return 1;
    }
    // The record keeps 32 bytes per name; a longer one is refused, not cut.
    if (std::strlen(name) >= GL_FILE_NAME_SLOT) {
        _gl_ext_fclose(stream);
        store_error(record, kBadCategory);
        return 1;
    }
    std::strcpy(loaded, name);

    gl_free_category(record, category);
    gl_make_null_category(record, category);
    int result = read_one_category(record, category, stream);
    _gl_ext_fclose(stream);
    if (result != 0) {
        // Nothing half-read stays reachable: the category goes back to null
        // (the error that failed the read is kept).
        int error = load_error(record);
        gl_free_category(record, category);
        gl_make_null_category(record, category);
        store_error(record, error);
    }
    return result;
}

// The worker of gl_setlocale_4 and gl_lc_load.
char *setlocale_worker(gl_locale *record, int category, const char *spec, const char *directory) {
    if (record == nullptr || is_static(record)) return nullptr;
    auto *query = static_cast<char *>(_gl_alloc_ptr(GL_LC_QUERY_SIZE));
    if (query == nullptr) {
        store_error(record, GL_ENOMEM);
        return nullptr;
    }
    query[0] = '\0';
    if (category < GL_ALL || category > GL_MESSAGES) {
        _gl_free_ptr(query);
        store_error(record, kBadCategory);
        return nullptr;
    }
    if (spec != nullptr) {
        if (std::strlen(spec) >= GL_LC_SPEC_LIMIT) {
            _gl_free_ptr(query);
            store_error(record, kBadCategory);
            return nullptr;
        }
        char copy[GL_LC_SPEC_LIMIT];
        std::strcpy(copy, spec);
        int first = category == GL_ALL ? GL_CTYPE : category;
        int last = category == GL_ALL ? GL_MESSAGES : category;
        for (int c = first; c <= last; ++c) {
            char loaded[GL_FILE_NAME_SLOT] = {};
            if (load_category(record, c, copy, loaded, directory) != 0) {
                _gl_free_ptr(query);
                if (load_error(record) == 0) store_error(record, GL_ELOADFAIL);
                return nullptr;
            }
            std::memcpy(record->file_names[slot(c)], loaded, GL_FILE_NAME_SLOT);
        }
        update_locale(record);
        widen_names(record);
    }
    if (category == GL_ALL) {
        for (int c = GL_CTYPE; c <= GL_MESSAGES; ++c) {
            std::strcat(query, category_params[c]);
            std::strcat(query, " = ");
            std::strcat(query, record->file_names[slot(c)]);
            std::strcat(query, " ; ");
        }
    } else {
        std::strcat(query, record->file_names[slot(category)]);
    }
    return query;
}

}  // namespace

extern "C" {

char *gl_setlocale_4(gl_locale *record, int category, const char *specification) {
    return setlocale_worker(record, category, specification, nullptr);
}

int gl_lc_load(gl_locale **record, const char *specification, const char *registry, const char *directory) {
    char fspec[GL_LC_FSPEC_SIZE];
    const char *spec = specification;
    if (specification != nullptr &&
        gl_lc_spec2lc_fname(nullptr, specification, fspec, registry, nullptr) == 0)
        spec = fspec;
    if (gl_create_null_locale_4(record) != 0) return -1;
    char *query = setlocale_worker(*record, GL_ALL, spec, directory);
    gl_destroystring(query);
    return load_error(*record) != 0 ? -1 : 0;
}

int read_locale_file(FILE *stream, gl_locale *record) {
    if (!read_header(record, stream, record->codeset_names[0])) return 1;
    for (int i = 1; i < GL_CATEGORY_COUNT; ++i)
        std::memcpy(record->codeset_names[i], record->codeset_names[0], GL_CS_NAME_SLOT);
    for (int c = GL_CTYPE; c <= GL_MESSAGES; ++c)
        if (glslib::read_section(record, c, stream) != 0) return 1;
    return 0;
}

int gl_createlocale_4(gl_locale **record) { return gl_createlocale2_4(record, nullptr); }

int gl_createlocale2_4(gl_locale **record, const char *prefix) {
    if (gl_create_null_locale_4(record) != 0) return -1;
    gl_locale *r = *record;
    FILE *stream = nullptr;
    if (prefix != nullptr) {
        char *path = join_path(r, {prefix, kDefaultFile});
        if (path != nullptr) {
            stream = _gl_ext_fopen(path, "r");
            _gl_free_ptr(path);
        }
    }
    if (stream == nullptr) stream = gl_path_search(r, kDefaultFile, "lc", "11");
    if (stream == nullptr) {
        gl_lc_unload(r);
        *record = &loc_filer;
        return -1;
    }
    store_error(r, 0);
    int result = read_locale_file(stream, r);
    _gl_ext_fclose(stream);
    if (result != 0) {
        if (load_error(r) == 0) store_error(r, GL_ELOADFAIL);
        return -1;
    }
    for (auto &name : r->file_names) {
        std::memset(name, 0, GL_FILE_NAME_SLOT);
        std::strcpy(name, kDefaultFile);
    }
    update_locale(r);
    widen_names(r);
    return 0;
}

int gl_copy_cat(gl_locale *target, gl_locale *source, int category) {
    if (target == nullptr || source == nullptr || is_static(target)) return -1;
    if (category < GL_ALL || category > GL_MESSAGES) {
        store_error(target, kBadCategory);
        return -1;
    }
    int first = category == GL_ALL ? GL_CTYPE : category;
    int last = category == GL_ALL ? GL_MESSAGES : category;
    for (int c = first; c <= last; ++c) {
        int i = slot(c);
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
            // Case conversions size their output from it.
            target->case_expansion = source->case_expansion;
            break;
        case GL_COLLATE:
            target->coll_table = source->coll_table;
            std::memcpy(collate_block(target), collate_block(source), collate_block_size(source));
            target->ignorable_chars = source->ignorable_chars;
            target->equivalent_chars = source->equivalent_chars;
            // The pattern matcher sizes its buffers from it.
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
        target->shared_categories = static_cast<int32_t>(static_cast<unsigned>(target->shared_categories) | bit(c));
        int i = slot(c);
        std::memcpy(target->codeset_names[i], source->codeset_names[i], GL_CS_NAME_SLOT);
        std::memcpy(target->file_names[i], source->file_names[i], GL_FILE_NAME_SLOT);
    }
    update_locale(target);
    // Fresh glconv copies, made with the target's own conversion slots.
    if (first <= GL_NUMERIC && GL_NUMERIC <= last) copy_numeric_conv(target);
    if (first <= GL_MONETARY && GL_MONETARY <= last) copy_monetary_conv(target);
    widen_names(target);
    return 0;
}

}  // extern "C"
