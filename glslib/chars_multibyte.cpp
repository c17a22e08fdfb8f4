// Multibyte and wide characters of a locale: decoding a character by
// walking the record's ctype_table, encoding a packed value back to bytes,
// string conversions between the two forms, lengths and stepping through
// multibyte strings.
//
// Called by the loader (the conversions it installs in mbstowcs_fn and
// mbfstowcfs_fn), the rest of the character layer, and every string, number
// and time operation of the library. Calls: the host services for the
// error word; reads the multi-level tables directly (a character is at most
// four nodes deep). A single-byte locale (single_byte 1) takes each byte as
// one character without a table walk where the operations allow it.

#include "chars_internal.h"

#include <cstring>

namespace glslib::chars {

namespace {

uint16_t entry_at(const gl_multi_t *t, const multi_arr_t *node, unsigned b) {
    const unsigned char *p = node->data != nullptr ? node->data + (static_cast<std::size_t>(b) << t->entry_shift)
                                                   : t->default_entry;
    uint16_t value = 0;
    if (p != nullptr && t->entry_size >= 2) std::memcpy(&value, p, sizeof value);
    return value;
}

// The child a descend flag leads to, or NULL when the node does not hold
// it (a malformed table must not be followed).
const multi_arr_t *child_of(const multi_arr_t *node, unsigned b) {
    if (node->offsets == nullptr || node->next == nullptr) return nullptr;
    int index = node->offsets[b];
    if (index >= node->child_count) return nullptr;
    return node->next[index];
}

}  // namespace

Found walk_bytes(const gl_multi_t *table, const unsigned char *s, int limit) {
    Found f;
    if (table == nullptr || table->root == nullptr) return f;
    const multi_arr_t *node = table->root;
    for (int i = 0; i < kMaxCharLength; ++i) {
        if (limit >= 0 && i >= limit) {
            f.status = Walk::kCut;
            f.length = limit;
            return f;
        }
        unsigned b = s[i];
        f.wc = (f.wc << 8) | b;
        f.length = i + 1;
        unsigned flag = node->flags != nullptr ? node->flags[b] : GL_MULTI_NONE;
        if (flag == GL_MULTI_END) {
            f.status = Walk::kOk;
            f.entry = entry_at(table, node, b);
            return f;
        }
        if (flag != GL_MULTI_NEXT) return f;
        node = child_of(node, b);
        if (node == nullptr) return f;
    }
    return f;  // deeper than any character
}

Found walk_wchar(const gl_multi_t *table, gl_wchar wc, unsigned char *out) {
    Found f;
    f.wc = wc;
    if (table == nullptr || table->root == nullptr) return f;
    int min = table->min_length;
    if (min < 1) min = 1;
    if (min > kMaxCharLength) min = kMaxCharLength;
    int n = encoded_length(wc, min);
    const multi_arr_t *node = table->root;
    for (int i = 0; i < n; ++i) {
        unsigned b = (wc >> (8 * (n - 1 - i))) & 0xFFu;
        if (out != nullptr) out[i] = static_cast<unsigned char>(b);
        f.length = i + 1;
        unsigned flag = node->flags != nullptr ? node->flags[b] : GL_MULTI_NONE;
        if (i == n - 1) {
            if (flag != GL_MULTI_END) return f;
            f.status = Walk::kOk;
            f.entry = entry_at(table, node, b);
            return f;
        }
        if (flag != GL_MULTI_NEXT) return f;
        node = child_of(node, b);
        if (node == nullptr) return f;
    }
    return f;
}

int shortest_char(const gl_locale *loc) {
    const gl_multi_t *t = loc->ctype_table;
    if (t == nullptr) return kMaxCharLength;
    int min = t->min_length;
    if (min < 1) return 1;
    return min > kMaxCharLength ? kMaxCharLength : min;
}

}  // namespace glslib::chars

namespace {

using namespace glslib::chars;

bool all_zero(const unsigned char *s, int n) {
    for (int i = 0; i < n; ++i) {
        if (s[i] != 0) return false;
    }
    return true;
}

// Argument check of the counted conversions: true when both buffers are
// given and count is -1 or more; else false with GL_ENULLPTR or
// GL_EBADARG stored.
bool buffers_usable(gl_locale *loc, const void *out, const void *in, int count) {
    if (out == nullptr || in == nullptr) {
        set_error(loc, GL_ENULLPTR);
        return false;
    }
    if (count < -1) {
        set_error(loc, GL_EBADARG);
        return false;
    }
    return true;
}


// Decodes the character at s with a byte limit (-1: none), storing 7 for a
// cut character and 1 for an invalid one.
Found decode(gl_locale *loc, const unsigned char *s, int limit) {
    Found f = walk_bytes(loc->ctype_table, s, limit);
    if (f.status == Walk::kCut) set_error(loc, GL_EINVAL);
    if (f.status == Walk::kInvalid) set_error(loc, GL_EILSEQ);
    return f;
}

// The character after p, decoded with a byte limit (-1: none); NULL with
// the error stored when p holds no character.
unsigned char *next_char(gl_locale *loc, const unsigned char *p, int limit) {
    Found f = decode(loc, p, limit);
    if (f.status != Walk::kOk) return nullptr;
    return const_cast<unsigned char *>(p) + f.length;
}

// Length of the character at s for gl_full_mblen and its twin: the null
// character gives 0 unless null_length.
int mblen_impl(gl_locale *loc, const unsigned char *s, int n, bool null_length) {
    if (s == nullptr) return 0;
    if (n < 1) {
        set_error(loc, GL_EINVAL);
        return -1;
    }
    Found f = decode(loc, s, n);
    if (f.status != Walk::kOk) return -1;
    if (!null_length && all_zero(s, f.length)) return 0;
    return f.length;
}

// Bytes of the terminated string at s without its terminator; -1 when a
// character is invalid.
int content_bytes(gl_locale *loc, const unsigned char *s) {
    int total = gl_mbsbytes(loc, s);
    return total == 0 ? -1 : total - shortest_char(loc);
}

// Case conversion of one character for _gl_im_tomupper and its kin; see
// the header. counted: the _dvz_ form (nothing written on failure).
int tom_impl(gl_locale *loc, unsigned char *out, const unsigned char *s, int limit, bool upper,
             bool counted) {
    if (counted && limit < 1) return 0;
    Found f = walk_bytes(loc->case_table, s, counted ? limit : -1);
    if (f.status != Walk::kOk) {
        if (counted) return 0;
        std::memcpy(out, s, static_cast<std::size_t>(f.length));
        return (f.length << 8) | f.length;
    }
    gl_wchar partner = f.wc;
    if (f.entry != 0 && f.entry <= loc->case_pair_count && loc->case_pairs != nullptr) {
        const gl_case_pair &pair = loc->case_pairs[f.entry];
        gl_wchar member = upper ? pair.upper : pair.lower;
        if (member != 0) partner = member;
    }
    if (partner != f.wc) {
        unsigned char bytes[4];
        Found enc = walk_wchar(loc->ctype_table, partner, bytes);
        if (enc.status == Walk::kOk) {
            std::memcpy(out, bytes, static_cast<std::size_t>(enc.length));
            return (f.length << 8) + (enc.length & 255);
        }
    }
    // No partner, or one that is no character: the bytes stay as they are.
    std::memcpy(out, s, static_cast<std::size_t>(f.length));
    return (f.length << 8) | f.length;
}

}  // namespace

extern "C" {

int gl_full_mblen(gl_locale *loc, const unsigned char *s, int n) { return mblen_impl(loc, s, n, false); }

int _dvz_gl_full_mblen(gl_locale *loc, const unsigned char *s, int n) { return mblen_impl(loc, s, n, true); }

int _dvz_gl_full_mbtowc(gl_locale *loc, gl_wchar *wc, const unsigned char *s, int n) {
    if (s == nullptr) return 0;
    if (n == -1) {
        n = content_bytes(loc, s);
        if (n < 0) return -1;
        if (n == 0) {
            set_error(loc, GL_EINVAL);
            return -1;
        }
    }
    if (n < 1) {
        set_error(loc, GL_EINVAL);
        return -1;
    }
    Found f = decode(loc, s, n);
    if (f.status != Walk::kOk) return -1;
    if (wc != nullptr) *wc = f.wc;
    return f.wc == 0 ? 0 : f.length;
}

int gl_full_mbtowc(gl_locale *loc, gl_wchar *wc, const unsigned char *s, int n) {
    if (s != nullptr && n < 1) {
        set_error(loc, GL_EINVAL);
        return -1;
    }
    return _dvz_gl_full_mbtowc(loc, wc, s, n);
}

int gl_full_wctomb(gl_locale *loc, unsigned char *s, gl_wchar wc) {
    Found f = walk_wchar(loc->ctype_table, wc, s);
    if (f.status != Walk::kOk) {
        set_error(loc, GL_EILSEQ);
        return -1;
    }
    return f.length;
}

int gl_wclen(gl_locale *loc, gl_wchar wc) {
    if (loc->single_byte == 1) return 1;
    Found f = walk_wchar(loc->ctype_table, wc, nullptr);
    if (f.status != Walk::kOk) {
        set_error(loc, GL_EILSEQ);
        return -1;
    }
    return f.length;
}

int gl_mbsterm(gl_locale *loc, unsigned char *p) {
    int n = shortest_char(loc);
    std::memset(p, 0, static_cast<std::size_t>(n));
    return n;
}

int gl_ismbsterm(gl_locale *loc, const unsigned char *p) {
    int n = shortest_char(loc);
    return all_zero(p, n) ? n : 0;
}

// ---- Multibyte to wide --------------------------------------------------

int _dvz_gl_is_mbfstowcfs(gl_locale *loc, gl_wchar *wcs, const unsigned char *s, int nbytes,
                          int nchars) {
    if (nchars < 1) return 0;
    if (!buffers_usable(loc, wcs, s, nbytes)) return -1;
    int count = 0;
    if (nbytes == -1) {
        while (count < nchars) {
            wcs[count] = s[count];
            if (s[count] == 0) return count;
            ++count;
        }
        return count;
    }
    while (count < nchars && count < nbytes) {
        wcs[count] = s[count];
        ++count;
    }
    return count;
}

int _gl_is_mbstowcs(gl_locale *loc, gl_wchar *wcs, const unsigned char *s, int n) {
    return _dvz_gl_is_mbfstowcfs(loc, wcs, s, -1, n);
}

int _dvz_gl_im_mbfstowcfs(gl_locale *loc, gl_wchar *wcs, const unsigned char *s, int nbytes,
                          int nchars) {
    if (nchars < 1) return 0;
    if (!buffers_usable(loc, wcs, s, nbytes)) return -1;
    const bool terminated = nbytes == -1;
    int count = 0;
    int used = 0;
    while (count < nchars && (terminated || used < nbytes)) {
        Found f = walk_bytes(loc->ctype_table, s + used, terminated ? -1 : nbytes - used);
        if (f.status != Walk::kOk) {
            set_error(loc, GL_EILSEQ);  // also a character cut off by the end
            return -1;
        }
        wcs[count] = f.wc;
        if (terminated && f.wc == 0) return count;
        ++count;
        used += f.length;
    }
    return count;
}

int _gl_im_mbstowcs(gl_locale *loc, gl_wchar *wcs, const unsigned char *s, int n) {
    return _dvz_gl_im_mbfstowcfs(loc, wcs, s, -1, n);
}

// ---- Wide to multibyte --------------------------------------------------

int _dvz_gl_is_wcstombs(gl_locale *loc, unsigned char *s, const gl_wchar *wcs, int nwc, int size) {
    if (size < 1) return 0;
    if (!buffers_usable(loc, s, wcs, nwc)) return -1;
    int count = 0;
    for (int i = 0; count < size && (nwc == -1 || i < nwc); ++i) {
        gl_wchar wc = wcs[i];
        if (wc > 0xFFu) {
            set_error(loc, GL_EILSEQ);
            return -1;
        }
        if (nwc == -1 && wc == 0) {
            s[count] = 0;
            return count;
        }
        s[count++] = static_cast<unsigned char>(wc);
    }
    return count;
}

int _gl_is_wcstombs(gl_locale *loc, unsigned char *s, const gl_wchar *wcs, int size) {
    return _dvz_gl_is_wcstombs(loc, s, wcs, -1, size);
}

int _dvz_gl_full_wcstombs(gl_locale *loc, unsigned char *s, const gl_wchar *wcs, int nwc, int size) {
    if (!buffers_usable(loc, s, wcs, nwc)) return -1;
    const bool single = loc->single_byte == 1;
    const int term = shortest_char(loc);
    int count = 0;
    for (int i = 0; nwc == -1 || i < nwc; ++i) {
        gl_wchar wc = wcs[i];
        if (nwc == -1 && wc == 0) {
            if (count + term <= size) std::memset(s + count, 0, static_cast<std::size_t>(term));
            return count;
        }
        int need = single ? 1 : (encoded_length(wc, term));
        if (count + need > size) return count;
        if (single) {
            s[count] = static_cast<unsigned char>(wc & 0xFFu);
        } else if (gl_full_wctomb(loc, s + count, wc) < 0) {
            return -1;
        }
        count += need;
    }
    return count;
}

int gl_full_wcstombs(gl_locale *loc, unsigned char *s, const gl_wchar *wcs, int size) {
    return _dvz_gl_full_wcstombs(loc, s, wcs, -1, size);
}

// ---- Lengths ------------------------------------------------------------

int gl_wcslen(const gl_wchar *wcs) {
    int n = 0;
    if (wcs != nullptr) {
        while (wcs[n] != 0) ++n;
    }
    return n;
}

int gl_wcsbytes(const gl_wchar *wcs) { return (gl_wcslen(wcs) + 1) * 4; }

int gl_mbsbytes(gl_locale *loc, const unsigned char *s) {
    if (s == nullptr) return 0;
    if (loc->single_byte == 1) return static_cast<int>(std::strlen(reinterpret_cast<const char *>(s))) + 1;
    int total = 0;
    for (;;) {
        int n = gl_full_mblen(loc, s + total, kMaxCharLength);
        if (n < 0) return 0;
        if (n == 0) return total + shortest_char(loc);
        total += n;
    }
}

int _gl_im_mbslen(gl_locale *loc, const unsigned char *s) {
    int count = 0;
    for (const unsigned char *p = s; p != nullptr;) {
        int n = gl_full_mblen(loc, p, kMaxCharLength);
        if (n < 0) return -1;
        if (n == 0) return count;
        ++count;
        p += n;
    }
    return 0;
}

int _dvz_gl_im_mbfslen(gl_locale *loc, const unsigned char *s, int nbytes) {
    if (nbytes == -1) {
        nbytes = content_bytes(loc, s);
        if (nbytes < 0) return -1;
    }
    if (nbytes < 0) {
        set_error(loc, GL_EILSEQ);  // the end lies before the start
        return -1;
    }
    if (loc->single_byte == 1) return nbytes;
    const int term = shortest_char(loc);
    int count = 0;
    int used = 0;
    while (used < nbytes) {
        int remaining = nbytes - used;
        int length = 0;
        if (remaining >= term && all_zero(s + used, term)) {
            length = term;  // a null character inside the range
        } else {
            Found f = walk_bytes(loc->ctype_table, s + used, remaining < kMaxCharLength ? remaining : kMaxCharLength);
            if (f.status != Walk::kOk) {
                // An invalid character, or one that runs past the end.
                set_error(loc, GL_EILSEQ);
                return -1;
            }
            length = f.length;
        }
        used += length;
        ++count;
    }
    return count;
}

// ---- Navigation ---------------------------------------------------------

unsigned char *gl_full_mbsnext(gl_locale *loc, const unsigned char *p) {
    if (p == nullptr) {
        set_error(loc, GL_ENULLPTR);
        return nullptr;
    }
    return next_char(loc, p, -1);
}

unsigned char *_dvz_gl_full_mbsnext(gl_locale *loc, const unsigned char *p, int n) {
    if (p == nullptr) {
        set_error(loc, GL_ENULLPTR);
        return nullptr;
    }
    if (n < 1) {
        set_error(loc, GL_EINVAL);
        return nullptr;
    }
    return next_char(loc, p, n);
}

unsigned char *gl_full_mbsprev(gl_locale *loc, const unsigned char *start, const unsigned char *pos) {
    if (start == nullptr || pos == nullptr) {
        set_error(loc, GL_ENULLPTR);
        return nullptr;
    }
    if (pos <= start) {
        set_error(loc, GL_EBADPOS);
        return nullptr;
    }
    long remaining = pos - start;
    const unsigned char *p = start;
    for (;;) {
        int limit = remaining > kMaxCharLength ? kMaxCharLength : static_cast<int>(remaining);
        int n = loc->single_byte == 1 ? 1 : _dvz_gl_full_mblen(loc, p, limit);
        if (n < 1) return nullptr;
        remaining -= n;
        if (remaining <= 0) return const_cast<unsigned char *>(p);
        p += n;
    }
}

// ---- Case of one multibyte character ------------------------------------

int _gl_im_tomupper(gl_locale *loc, unsigned char *out, const unsigned char *s) {
    return tom_impl(loc, out, s, -1, true, false);
}

int _gl_im_tomlower(gl_locale *loc, unsigned char *out, const unsigned char *s) {
    return tom_impl(loc, out, s, -1, false, false);
}

int im_tomlower(gl_locale *loc, unsigned char *out, const unsigned char *s) {
    return _gl_im_tomlower(loc, out, s);
}

int _dvz_gl_im_tomupper(gl_locale *loc, unsigned char *out, const unsigned char *s, int n) {
    return tom_impl(loc, out, s, n, true, true);
}

int _dvz_gl_im_tomlower(gl_locale *loc, unsigned char *out, const unsigned char *s, int n) {
    return tom_impl(loc, out, s, n, false, true);
}

}  // extern "C"
