// Readers of the sections of a locale file (.lco): the header check, the
// CTYPE, COLLATE, NUMERIC, MONETARY, TIME and MESSAGES sections, the
// building of the collation equivalence lists and the parsing of era
// strings.
//
// Callers: the loader (locale_load.cpp), which finds the file and the
// section marker and runs the follow-up work. Calls: the token readers and
// stream wrappers of the host services, the multi-level table reader, the
// character layer (wide conversion, encoding) for eras.
//
// Input is a file from outside: everything used to index or size memory is
// validated (malformed input is error 11 for the category), and a count is
// never trusted beyond what the rest of the stream can hold.

#include "chars_internal.h"
#include "gl_locale.h"
#include "locale_internal.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using glslib::alloc_zeroed;
using glslib::HostVec;
using glslib::store_error;

namespace {

constexpr int kLineSize = 128;      // lines of at most 127 bytes
constexpr int kCalendarLine = 32;   // the calendar line: at most 31 bytes
constexpr int kClassNameSize = 71;  // class names: at most 70 bytes
constexpr int kMaxRow = 0xFFFF;     // rows are u16 everywhere they are stored
constexpr int kMaxExpansions = 0x4000; // weights index expansions with 14 bits
constexpr int kMaxCharsPerItem = 15;   // element / expansion counts: one hex digit
constexpr int kNoSpace = 8;            // an encoded string's length lacks its space
constexpr int kGroupTooLong = 4;       // a grouping count of 16 or more

constexpr bool is_space(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Bytes left in the stream, or -1 when the stream cannot tell.
long bytes_left(FILE *stream) {
    long here = _gl_ext_ftell(stream);
    if (here < 0) return -1;
    if (_gl_ext_fseek(stream, 0, SEEK_END) != 0) return -1;
    long end = _gl_ext_ftell(stream);
    _gl_ext_fseek(stream, here, SEEK_SET);
    return end < here ? -1 : end - here;
}

// True when count items of at least per_item bytes each can still follow.
// Small counts are let through unchecked (the reads themselves then find a
// short file); large ones must fit what the stream holds, so a forged count
// never sizes a huge allocation. A stream that cannot tell its size gets a
// fixed ceiling instead.
bool count_fits(FILE *stream, long count, long per_item) {
    if (count < 0) return false;
    if (count <= 256) return true;
    long left = bytes_left(stream);
    if (left < 0) return count <= (1L << 20);
    return count <= left / per_item;
}

// End-of-file reached inside data that should have been there.
bool ran_out(FILE *stream) { return _gl_ext_feof(stream) != 0; }

// Counts the read that a failing string leaves for the TIME section.
int time_code(int error) { return error == GL_EBADFILE ? GL_EBADFILE : GL_ENOMEM; }

}  // namespace

namespace glslib {

int read_line(FILE *stream, char *buffer, int size) {
    if (_gl_ext_fgets(buffer, size, stream) == nullptr) return -1;
    int length = static_cast<int>(std::strlen(buffer));
    if (length == size - 1 && buffer[length - 1] != '\n') {
        // Longer than the buffer: consume the rest so the next read starts
        // on a line boundary.
        int c;
        do {
            c = _gl_ext_fgetc(stream);
        } while (c != '\n' && c != EOF);
        if (c == EOF && length > 0) {
            // The text simply ended exactly at the buffer's edge.
            return length;
        }
        return -2;
    }
    return length;
}

}  // namespace glslib

namespace {

using glslib::read_line;

// Reads one line into line (size bytes): its length with the newline, or 0
// when the line is missing, too long or ends without a newline.
int read_whole_line(FILE *stream, char *line, int size) {
    int length = read_line(stream, line, size);
    return length >= 1 && line[length - 1] == '\n' ? length : 0;
}

// Reads count encoded strings into slots (zeroed beforehand); false with
// *error on the first failure.
bool read_strings(FILE *stream, char **slots, int count, int *error) {
    for (int i = 0; i < count; ++i) {
        slots[i] = str_readallc(stream, error);
        if (slots[i] == nullptr) return false;
    }
    return true;
}

// A count token followed by a skip; -1 (malformed) when negative.
int read_count(FILE *stream) {
    int count = _gl_get_int(stream);
    _gl_skip_whitespace(stream);
    return count;
}

// Reads a counted list of encoded strings into list (its mb and wc arrays
// made with count slots). A count of 0 gives no list.
int read_text_list(FILE *stream, gl_text_list *list, int *error) {
    int count = read_count(stream);
    if (count < 0 || !count_fits(stream, count, 2)) {
        *error = GL_EBADFILE;
        return -1;
    }
    if (count == 0) return 0;
    list->mb = alloc_zeroed<char *>(static_cast<std::size_t>(count));
    list->wc = alloc_zeroed<gl_wchar *>(static_cast<std::size_t>(count));
    if (list->mb == nullptr || list->wc == nullptr) {
        _gl_free_ptr(list->mb);
        _gl_free_ptr(list->wc);
        list->mb = nullptr;
        list->wc = nullptr;
        *error = GL_ENOMEM;
        return -1;
    }
    list->count = count;
    int code = 0;
    if (!read_strings(stream, list->mb, count, &code)) {
        *error = time_code(code);
        return -1;
    }
    return 0;
}

// Every entry a complete character of table holds (flag 4), by callback;
// stops early when visit returns false. The default entry counts for nodes
// without data.
template <typename Visit>
bool each_entry(const gl_multi_t *table, const multi_arr_t *node, int depth, Visit &&visit) {
    if (node == nullptr || node->flags == nullptr || depth > 4) return true;
    for (int b = 0; b < 256; ++b) {
        if (node->flags[b] == GL_MULTI_END) {
            const unsigned char *entry =
                node->data != nullptr ? node->data + (static_cast<std::size_t>(b) << table->entry_shift)
                                      : table->default_entry;
            uint16_t value;
            std::memcpy(&value, entry, sizeof value);
            if (!visit(value)) return false;
        } else if (node->flags[b] == GL_MULTI_NEXT && node->offsets != nullptr &&
                   node->offsets[b] < node->child_count) {
            if (!each_entry(table, node->next[node->offsets[b]], depth + 1, visit)) return false;
        }
    }
    return true;
}

// True when every u16 entry of table is at most limit.
bool entries_at_most(const gl_multi_t *table, unsigned limit) {
    return each_entry(table, table->root, 1, [limit](uint16_t v) { return v <= limit; });
}

// Every complete character of table (flag 4) by its packed value and byte
// length, packed as a walk of the character's bytes packs it; stops early
// when visit returns false.
template <typename Visit>
bool each_character(const multi_arr_t *node, int depth, gl_wchar prefix, Visit &&visit) {
    if (node == nullptr || node->flags == nullptr || depth > 4) return true;
    for (int b = 0; b < 256; ++b) {
        const gl_wchar wc = (prefix << 8) | static_cast<gl_wchar>(b);
        if (node->flags[b] == GL_MULTI_END) {
            if (!visit(wc, depth)) return false;
        } else if (node->flags[b] == GL_MULTI_NEXT && node->offsets != nullptr &&
                   node->offsets[b] < node->child_count) {
            if (!each_character(node->next[node->offsets[b]], depth + 1, wc, visit)) return false;
        }
    }
    return true;
}

// True when no character's case partner takes more bytes than
// case_expansion times the character's own: the multibyte case conversions
// write into a buffer sized by that factor, with no size to check against.
// A partner's length is what encoding it writes (also when it turns out to
// be no character, whose tested bytes are written all the same).
bool case_pairs_fit_expansion(const gl_locale *record) {
    const gl_multi_t *ctype = record->ctype_table;
    return each_character(ctype->root, 1, 0, [record, ctype](gl_wchar wc, int length) {
        const double room = record->case_expansion * length;
        const gl_wchar partners[] = {glslib::chars::case_partner(record, wc, true),
                                     glslib::chars::case_partner(record, wc, false)};
        for (gl_wchar partner : partners) {
            if (partner == wc) continue;
            if (glslib::chars::walk_wchar(ctype, partner, nullptr).length > room) return false;
        }
        return true;
    });
}

// Reads one locale table (limit 4, u16 entries); false with the table's
// error in the error word.
bool read_table(FILE *stream, gl_locale *record, gl_multi_t *table) {
    if (_gl_fscanf_multi(stream, table, 4, ub2_reader) != 0) {
        int error = table->err;
        store_error(record, error != 0 ? error : GL_EBADFILE);
        return false;
    }
    if (table->entry_size != 2) {
        store_error(record, GL_EBADFILE);
        return false;
    }
    return true;
}

}  // namespace

extern "C" {

char *str_readallc(FILE *stream, int *error) {
    int length = _gl_get_int(stream);
    if (length < 0) {
        *error = GL_EBADFILE;
        return nullptr;
    }
    if (length > 0 && _gl_ext_getc(stream) != ' ') {
        *error = kNoSpace;
        return nullptr;
    }
    if (!count_fits(stream, length, 2)) {
        *error = GL_EBADFILE;
        return nullptr;
    }
    auto *text = static_cast<char *>(_gl_alloc_ptr(static_cast<std::size_t>(length) + 4));
    if (text == nullptr) {
        *error = GL_ENOMEM;
        return nullptr;
    }
    for (int i = 0; i < length; ++i) text[i] = static_cast<char>(_gl_get_hex_byte(stream));
    std::memset(text + length, 0, 4);
    if (length > 0 && ran_out(stream)) {
        _gl_free_ptr(text);
        *error = GL_EBADFILE;
        return nullptr;
    }
    _gl_skip_whitespace(stream);
    return text;
}

int read_group(FILE *stream, gl_grouping *group, int *error) {
    int count = _gl_get_int(stream);
    _gl_skip_whitespace(stream);
    if (count < 0) {
        *error = GL_EBADFILE;
        return -1;
    }
    group->count = 0;
    for (int i = 0; i < count; ++i) {
        if (i == 15) {
            *error = kGroupTooLong;  // a sixteenth size has no room
            return -1;
        }
        group->sizes[i] = _gl_get_int(stream);
        group->count = i + 1;
        _gl_skip_whitespace(stream);
    }
    if (count > 0 && ran_out(stream)) {
        *error = GL_EBADFILE;
        return -1;
    }
    _gl_skip_whitespace(stream);
    return 0;
}

gl_wchar _gl_read_gl_wchar(FILE *stream) {
    _gl_skip_whitespace(stream);
    return static_cast<gl_wchar>(_gl_get_hex(stream, 8));
}

void ub2_reader(FILE *stream, void *destination, int entry_size) {
    (void)entry_size;
    auto value = static_cast<uint16_t>(_gl_get_hex(stream, 4));
    std::memcpy(destination, &value, sizeof value);
}

int read_file_header(FILE *stream, char *codeset, int *error) {
    auto fail = [error](int code) {
        *error = code;
        return 0;
    };
    char line[kLineSize];
    int length = read_whole_line(stream, line, kLineSize);
    if (length == 0) return fail(GL_EBADFILE);
    line[length - 1] = '\0';
    if (std::strcmp(line, "FILE_TYPE=locale_object") != 0) return fail(GL_EBADFILE);
    length = read_whole_line(stream, line, kLineSize);
    if (length == 0) return fail(GL_EBADFILE);
    line[length - 1] = '\0';
    if (std::strcmp(line, "COMPILER_VERSION=11") != 0) return fail(GL_EVERSION);
    if (read_whole_line(stream, line, kLineSize) == 0) return fail(GL_EBADFILE);
    const char *equals = std::strchr(line, '=');
    if (equals == nullptr || equals[1] < '0' || equals[1] > '9') return fail(GL_EBADFILE);
    long lines = std::strtol(equals + 1, nullptr, 10);
    if (lines < 3) return fail(GL_EBADFILE);
    for (long i = 3; i < lines; ++i)
        if (read_whole_line(stream, line, kLineSize) == 0) return fail(GL_EBADFILE);
    _gl_skip_whitespace(stream);
    char name[GL_CS_NAME_SLOT];
    length = read_whole_line(stream, name, GL_CS_NAME_SLOT);
    if (length == 0) return fail(GL_EBADFILE);
    name[length - 1] = '\0';
    std::memcpy(codeset, name, static_cast<std::size_t>(length));
    return 1;
}

int read_ctype(FILE *stream, gl_locale *record) {
    if (record->ctype_table == nullptr || record->case_table == nullptr) {
        store_error(record, GL_ENOMEM);
        return 1;
    }
    if (!read_table(stream, record, record->ctype_table)) return 1;

    int count = _gl_get_int(stream);
    if (count < 0 || !count_fits(stream, count, 4)) {
        store_error(record, GL_EBADFILE);
        return 1;
    }
    if (count > 0) {
        record->classes = alloc_zeroed<gl_class_name>(static_cast<std::size_t>(count));
        if (record->classes == nullptr) {
            store_error(record, GL_ENOMEM);
            return 1;
        }
        record->class_count = count;
        for (int i = 0; i < count; ++i) {
            _gl_skip_whitespace(stream);
            record->classes[i].number = _gl_get_int(stream);
            _gl_skip_whitespace(stream);
            char name[kClassNameSize];
            _gl_get_str(name, kClassNameSize, stream);
            int next = _gl_ext_getc(stream);
            _gl_ext_ungetc(next, stream);
            if (name[0] == '\0' || (next != EOF && !is_space(next))) {
                store_error(record, GL_EBADFILE);  // missing or over-long name
                return 1;
            }
            std::size_t size = std::strlen(name) + 1;
            auto *copy = static_cast<char *>(_gl_alloc_ptr(size));
            if (copy == nullptr) {
                for (int j = 0; j < i; ++j) {
                    _gl_free_ptr(record->classes[j].name);
                    record->classes[j].name = nullptr;
                }
                store_error(record, GL_ENOMEM);
                return 1;
            }
            std::memcpy(copy, name, size);
            record->classes[i].name = copy;
        }
    }

    if (!read_table(stream, record, record->case_table)) return 1;

    int pairs = _gl_get_int(stream);
    if (pairs < 0 || !count_fits(stream, pairs, 16)) {
        store_error(record, GL_EBADFILE);
        return 1;
    }
    record->case_pairs = alloc_zeroed<gl_case_pair>(static_cast<std::size_t>(pairs) + 1);
    if (record->case_pairs == nullptr) {
        store_error(record, GL_ENOMEM);
        return 1;
    }
    record->case_pair_count = pairs;
    for (int i = 1; i <= pairs; ++i) {
        record->case_pairs[i].upper = _gl_read_gl_wchar(stream);
        record->case_pairs[i].lower = _gl_read_gl_wchar(stream);
    }
    if (ran_out(stream) || !entries_at_most(record->case_table, static_cast<unsigned>(pairs))) {
        store_error(record, GL_EBADFILE);
        return 1;
    }

    char line[kLineSize];
    int length = read_whole_line(stream, line, kLineSize);
    if (length == 0) {
        store_error(record, GL_EBADFILE);
        return 1;
    }
    if (length == 1) {
        record->case_expansion = 4.0;
    } else {
        double factor = 0;
        // Sizes case-conversion buffers: a factor that is no number, not
        // positive or absurdly large would size them wrongly.
        if (std::sscanf(line, "%lf", &factor) != 1 || !std::isfinite(factor) || factor <= 0 ||
            factor > 64) {
            store_error(record, GL_EBADFILE);
            return 1;
        }
        record->case_expansion = factor;
    }
    if (!case_pairs_fit_expansion(record)) {
        store_error(record, GL_EBADFILE);
        return 1;
    }
    return 0;
}

}  // extern "C"

namespace {

// Row classification and the character lists of a general COLLATE section.
class CollateLists {
public:
    explicit CollateLists(gl_locale *record) : record_(record) {}
    ~CollateLists() { release(); }

    // Sets up for rows 0..highest_row and the expansions; false: no memory.
    bool start() {
        std::size_t rows = static_cast<std::size_t>(record_->highest_row) + 1;
        row_class_ = alloc_zeroed<int32_t>(rows);
        ignorable_ = alloc_zeroed<unsigned char>(rows);
        hash_size_ = 1;
        while (hash_size_ < rows * 2) hash_size_ <<= 1;
        hash_ = alloc_zeroed<int32_t>(hash_size_);
        if (record_->expansion_count > 0)
            expansion_row_ = alloc_zeroed<int32_t>(static_cast<std::size_t>(record_->expansion_count));
        if (row_class_ == nullptr || ignorable_ == nullptr || hash_ == nullptr ||
            (record_->expansion_count > 0 && expansion_row_ == nullptr))
            return false;
        for (std::size_t r = 0; r < rows; ++r) row_class_[r] = -1;
        for (std::size_t i = 0; i < hash_size_; ++i) hash_[i] = -1;
        for (int i = 0; i < record_->expansion_count; ++i) expansion_row_[i] = -1;
        return true;
    }

    // Classifies row r, whose weights are stored. false: no memory.
    bool classify(int r) {
        const int passes = record_->pass_count;
        bool all_ignore = true, any_tie = false, all_expansion = true, all_same = true;
        uint16_t first = passes > 0 ? record_->weights[0][r] : 0;
        for (int p = 0; p < passes; ++p) {
            uint16_t w = record_->weights[p][r];
            if (w != GL_WEIGHT_IGNORE) all_ignore = false;
            if (w & GL_WEIGHT_CODEPOINT) any_tie = true;
            if (!(w & GL_WEIGHT_EXPANSION)) all_expansion = false;
            if (w != first) all_same = false;
        }
        // The first row with these weights; rows found later join its class.
        // A hash of the weight tuple keeps this linear in the row count.
        std::size_t slot = hash_slot(r);
        int q = hash_[slot];
        if (all_ignore) {
            ignorable_[r] = 1;
        } else if (!any_tie && r > 0 && q >= 0) {
            if (!join(q, r)) return false;
        }
        if (!all_ignore && passes > 0 && all_expansion && !any_tie && all_same) {
            int index = first & 0x3FFF;
            if (expansion_row_[index] < 0) expansion_row_[index] = r;
            if (row_class_[r] < 0 && !new_class(r)) return false;
        }
        if (q < 0) hash_[slot] = r;
        return true;
    }

    // Builds ignorable_chars and equivalent_chars; false with the error
    // word set (1: an element's character is not in the table, 3 memory).
    bool finish() {
        if (!any_ignorable() && class_count_ == 0) return true;
        for (int i = 0; i < record_->element_count; ++i) {
            const gl_coll_element &e = record_->elements[i];
            if (!save_wide(e.characters, e.count, e.row)) return false;
        }
        for (int i = 0; i < record_->expansion_count; ++i) {
            if (expansion_row_[i] < 0) continue;
            const gl_coll_expansion &x = record_->expansions[i];
            if (!save_wide(x.characters, x.count, expansion_row_[i])) return false;
        }
        unsigned char bytes[4];
        if (!save_table_chars(record_->coll_table->root, bytes, 0)) return false;
        return build_lists();
    }

private:
    struct Class {
        HostVec<char *> chars;
    };

    std::size_t hash_slot(int r) const {
        uint64_t h = 1469598103934665603ull;
        for (int p = 0; p < record_->pass_count; ++p) {
            h ^= record_->weights[p][r];
            h *= 1099511628211ull;
        }
        std::size_t slot = static_cast<std::size_t>(h) & (hash_size_ - 1);
        while (hash_[slot] >= 0 && !same_weights(hash_[slot], r)) slot = (slot + 1) & (hash_size_ - 1);
        return slot;
    }

    bool same_weights(int a, int b) const {
        for (int p = 0; p < record_->pass_count; ++p)
            if (record_->weights[p][a] != record_->weights[p][b]) return false;
        return true;
    }

    bool new_class(int first_row) {
        if (class_count_ == class_capacity_) {
            int capacity = class_capacity_ == 0 ? 100 : class_capacity_ * 2;
            auto *bigger = alloc_zeroed<Class *>(static_cast<std::size_t>(capacity));
            if (bigger == nullptr) return false;
            if (class_count_ > 0) std::memcpy(bigger, classes_, sizeof(Class *) * class_count_);
            _gl_free_ptr(classes_);
            classes_ = bigger;
            class_capacity_ = capacity;
        }
        void *block = _gl_alloc_ptr(sizeof(Class));
        if (block == nullptr) return false;
        classes_[class_count_] = new (block) Class();
        row_class_[first_row] = class_count_;
        ++class_count_;
        return true;
    }

    // r joins the class whose first row is q (made when there is none).
    bool join(int q, int r) {
        if (row_class_[q] < 0 && !new_class(q)) return false;
        if (row_class_[r] < 0) row_class_[r] = row_class_[q];
        return true;
    }

    bool any_ignorable() const {
        for (int r = 0; r <= record_->highest_row; ++r)
            if (ignorable_[r]) return true;
        return false;
    }

    // Files a copy of the length bytes under row.
    bool save(const unsigned char *bytes, std::size_t length, int row) {
        if (row < 0 || row > record_->highest_row) return true;
        HostVec<char *> *list = nullptr;
        if (ignorable_[row]) {
            list = &ignorable_chars_;
        } else if (row_class_[row] >= 0) {
            list = &classes_[row_class_[row]]->chars;
        } else {
            return true;
        }
        auto *copy = static_cast<char *>(_gl_alloc_ptr(length + 4));
        if (copy == nullptr) return false;
        std::memcpy(copy, bytes, length);
        std::memset(copy + length, 0, 4);
        if (!list->push(copy)) {
            _gl_free_ptr(copy);
            return false;
        }
        return true;
    }

    // Byte count of a packed character in coll_table (as the wide lookup
    // of the multi-level tables walks it).
    int wide_length(gl_wchar wc) const {
        int length = record_->coll_table->min_length;
        if (wc > 0xFFFFFF) return 4;
        if (wc > 0xFFFF && length < 3) return 3;
        if (wc > 0xFF && length < 2) return 2;
        return length < 1 ? 1 : (length > 4 ? 4 : length);
    }

    bool save_wide(const gl_wchar *characters, int count, int row) {
        unsigned char bytes[4 * kMaxCharsPerItem];
        std::size_t length = 0;
        for (int i = 0; i < count; ++i) {
            gl_wchar wc = characters[i];
            if (_gl_retrieve_wchar_multi_nl(record_, wc, record_->coll_table) == nullptr) {
                store_error(record_, GL_EILSEQ);
                return false;
            }
            int n = wide_length(wc);
            for (int k = n - 1; k >= 0; --k) bytes[length++] = static_cast<unsigned char>(wc >> (8 * k));
        }
        if (!save(bytes, length, row)) {
            store_error(record_, GL_ENOMEM);
            return false;
        }
        return true;
    }

    // Every complete character of the table, depth first in byte order.
    bool save_table_chars(const multi_arr_t *node, unsigned char *bytes, int depth) {
        if (node == nullptr || node->flags == nullptr || depth >= 4) return true;
        const gl_multi_t *table = record_->coll_table;
        for (int b = 0; b < 256; ++b) {
            bytes[depth] = static_cast<unsigned char>(b);
            if (node->flags[b] == GL_MULTI_END) {
                const unsigned char *entry =
                    node->data != nullptr ? node->data + (static_cast<std::size_t>(b) << table->entry_shift)
                                          : table->default_entry;
                uint16_t row;
                std::memcpy(&row, entry, sizeof row);
                if (!save(bytes, static_cast<std::size_t>(depth) + 1, row)) {
                    store_error(record_, GL_ENOMEM);
                    return false;
                }
            } else if (node->flags[b] == GL_MULTI_NEXT && node->offsets != nullptr &&
                       node->offsets[b] < node->child_count) {
                if (!save_table_chars(node->next[node->offsets[b]], bytes, depth + 1)) return false;
            }
        }
        return true;
    }

    bool build_lists() {
        if (ignorable_chars_.size() > 0) {
            std::size_t n = ignorable_chars_.size();
            char **list = alloc_zeroed<char *>(n + 1);
            if (list == nullptr) {
                store_error(record_, GL_ENOMEM);
                return false;
            }
            std::memcpy(list, ignorable_chars_.data(), n * sizeof(char *));
            record_->ignorable_chars = list;
            ignorable_taken_ = true;
        }
        std::size_t pairs = 0;
        for (int c = 0; c < class_count_; ++c)
            if (classes_[c]->chars.size() > 1) pairs += classes_[c]->chars.size() - 1;
        if (pairs == 0) return true;
        gl_equiv_pair *list = alloc_zeroed<gl_equiv_pair>(pairs + 1);
        if (list == nullptr) {
            store_error(record_, GL_ENOMEM);
            return false;
        }
        std::size_t k = 0;
        for (int c = 0; c < class_count_; ++c) {
            HostVec<char *> &chars = classes_[c]->chars;
            std::size_t n = chars.size();
            if (n < 2) continue;
            for (std::size_t i = 0; i + 1 < n; ++i) {
                list[k].member = chars[i];
                list[k].representative = chars[n - 1];
                ++k;
            }
            // The list owns them now.
            for (std::size_t i = 0; i < n; ++i) chars[i] = nullptr;
        }
        record_->equivalent_chars = list;
        return true;
    }

    void release() {
        if (!ignorable_taken_)
            for (std::size_t i = 0; i < ignorable_chars_.size(); ++i) _gl_free_ptr(ignorable_chars_[i]);
        for (int c = 0; c < class_count_; ++c) {
            HostVec<char *> &chars = classes_[c]->chars;
            for (std::size_t i = 0; i < chars.size(); ++i) _gl_free_ptr(chars[i]);
            classes_[c]->~Class();
            _gl_free_ptr(classes_[c]);
        }
        _gl_free_ptr(classes_);
        _gl_free_ptr(row_class_);
        _gl_free_ptr(ignorable_);
        _gl_free_ptr(hash_);
        _gl_free_ptr(expansion_row_);
    }

    gl_locale *record_;
    int32_t *row_class_ = nullptr;      // class of each row, -1 none
    unsigned char *ignorable_ = nullptr; // 1 for an ignorable row
    int32_t *hash_ = nullptr;           // first row of each weight tuple
    std::size_t hash_size_ = 0;
    int32_t *expansion_row_ = nullptr;  // first row recorded per expansion
    Class **classes_ = nullptr;
    int class_count_ = 0;
    int class_capacity_ = 0;
    HostVec<char *> ignorable_chars_;
    bool ignorable_taken_ = false;
};

// Reads count wide characters into a new array (count >= 1).
gl_wchar *read_wide_chars(FILE *stream, int count) {
    gl_wchar *chars = alloc_zeroed<gl_wchar>(static_cast<std::size_t>(count));
    if (chars == nullptr) return nullptr;
    for (int i = 0; i < count; ++i) chars[i] = _gl_read_gl_wchar(stream);
    return chars;
}

}  // namespace

extern "C" {

int read_collate(FILE *stream, gl_locale *record) {
    char line[kLineSize];
    int length = read_line(stream, line, kLineSize);
    if (length > 0 && std::strcmp(line, "thai_smo\n") == 0) {
        record->coll_kind = 2;
        return 0;
    }
    if (length < 1 || std::strcmp(line, "as_specified\n") != 0) {
        record->coll_kind = 0;
        return 1;  // the loader reports it
    }
    record->coll_kind = 1;
    if (record->coll_table == nullptr) {
        store_error(record, GL_ENOMEM);
        return 1;
    }
    if (!read_table(stream, record, record->coll_table)) return 1;

    int values[6];
    for (int &v : values) {
        v = _gl_get_int(stream);
        _gl_skip_whitespace(stream);
    }
    int order = values[0], highest_row = values[1], passes = values[2];
    int elements = values[3], expansions = values[4], highest_weight = values[5];
    if (highest_row < 0 || highest_row > kMaxRow || passes < 0 || passes > GL_MAX_PASSES ||
        elements < 0 || expansions < 0 || expansions > kMaxExpansions || highest_weight < 0 ||
        !count_fits(stream, elements, 6) || !count_fits(stream, expansions, 2) ||
        !count_fits(stream, static_cast<long>(highest_row + 1) * passes, 4) ||
        !entries_at_most(record->coll_table, static_cast<unsigned>(highest_row))) {
        store_error(record, GL_EBADFILE);
        return 1;
    }
    record->codeset_order_word = order;
    record->highest_row = highest_row;
    record->pass_count = passes;
    record->highest_weight = static_cast<uint32_t>(highest_weight);

    for (int p = 0; p < passes; ++p) record->pass_flags[p] = _gl_get_hex(stream, 4);
    for (int p = 0; p < passes; ++p) {
        record->weights[p] = alloc_zeroed<uint16_t>(static_cast<std::size_t>(highest_row) + 1);
        if (record->weights[p] == nullptr) {
            store_error(record, GL_ENOMEM);
            return 1;
        }
    }

    if (elements > 0) {
        record->elements = alloc_zeroed<gl_coll_element>(static_cast<std::size_t>(elements));
        if (record->elements == nullptr) {
            store_error(record, GL_ENOMEM);
            return 1;
        }
        record->element_count = elements;
        for (int i = 0; i < elements; ++i) {
            _gl_skip_whitespace(stream);
            int count = _gl_get_hex(stream, 1);
            int row = _gl_get_hex(stream, 4);
            if (count < 1 || count > kMaxCharsPerItem || row < 0 || row > highest_row || ran_out(stream)) {
                store_error(record, GL_EBADFILE);
                return 1;
            }
            record->elements[i].row = static_cast<uint16_t>(row);
            record->elements[i].characters = read_wide_chars(stream, count);
            if (record->elements[i].characters == nullptr) {
                store_error(record, GL_ENOMEM);
                return 1;
            }
            record->elements[i].count = count;
            if (count > record->coll_expansion) record->coll_expansion = count;
        }
    }
    if (expansions > 0) {
        record->expansions = alloc_zeroed<gl_coll_expansion>(static_cast<std::size_t>(expansions));
        if (record->expansions == nullptr) {
            store_error(record, GL_ENOMEM);
            return 1;
        }
        record->expansion_count = expansions;
        for (int i = 0; i < expansions; ++i) {
            _gl_skip_whitespace(stream);
            int count = _gl_get_hex(stream, 1);
            if (count < 1 || count > kMaxCharsPerItem || ran_out(stream)) {
                store_error(record, GL_EBADFILE);
                return 1;
            }
            record->expansions[i].characters = read_wide_chars(stream, count);
            if (record->expansions[i].characters == nullptr) {
                store_error(record, GL_ENOMEM);
                return 1;
            }
            record->expansions[i].count = count;
            if (count > record->coll_expansion) record->coll_expansion = count;
        }
    }

    const bool general = order != 1;
    CollateLists lists(record);
    if (general && !lists.start()) {
        store_error(record, GL_ENOMEM);
        return 1;
    }
    for (int r = 0; r <= highest_row; ++r) {
        for (int p = 0; p < passes; ++p) {
            _gl_skip_whitespace(stream);
            auto w = static_cast<uint16_t>(_gl_get_hex(stream, 4));
            if ((w & GL_WEIGHT_EXPANSION) && (w & 0x3FFF) >= expansions) {
                store_error(record, GL_EBADFILE);  // names no expansion
                return 1;
            }
            record->weights[p][r] = w;
        }
        if (general && !lists.classify(r)) {
            store_error(record, GL_ENOMEM);
            return 1;
        }
    }
    if (passes > 0 && ran_out(stream)) {
        store_error(record, GL_EBADFILE);
        return 1;
    }
    if (general && !lists.finish()) return 1;
    _gl_skip_whitespace(stream);

    for (int p = 0; p < passes; ++p) {
        record->expansion_candidates[p] = alloc_zeroed<gl_coll_expansion *>(256);
        if (record->expansion_candidates[p] == nullptr) {
            store_error(record, GL_ENOMEM);
            return 1;
        }
        for (int b = 0; b < 256; ++b) {
            auto byte = static_cast<unsigned char>(b);
            const void *entry = _gl_retrieve_text_multi_limit_nl(&byte, record->coll_table, 1, record);
            if (entry == nullptr) continue;
            uint16_t row;
            std::memcpy(&row, entry, sizeof row);
            uint16_t w = record->weights[p][row];
            if (w & GL_WEIGHT_EXPANSION) record->expansion_candidates[p][b] = &record->expansions[w & 0x3FFF];
        }
    }
    store_error(record, 0);

    if (elements >= 1) {
        record->element_candidates = alloc_zeroed<int32_t>(256);
        if (record->element_candidates == nullptr) {
            store_error(record, GL_ENOMEM);
            return 1;
        }
        for (int i = 0; i < elements; ++i)
            if (record->elements[i].characters[0] < 256) record->element_candidates[record->elements[i].characters[0]] = 1;
    }
    return 0;
}

int _gl_read_numeric(FILE *stream, gl_locale *record, int *error) {
    gl_text_pair *first[] = {&record->decimal_point, &record->thousands_sep};
    for (gl_text_pair *t : first)
        if ((t->mb = str_readallc(stream, error)) == nullptr) return -1;
    if (read_group(stream, &record->grouping, error) != 0) return -1;
    gl_text_pair *signs[] = {&record->num_positive_sign, &record->num_negative_sign};
    for (gl_text_pair *t : signs)
        if ((t->mb = str_readallc(stream, error)) == nullptr) return -1;
    return 0;
}

int _gl_read_monetary(FILE *stream, gl_locale *record, int *error) {
    // A failed string ends the read, as in NUMERIC: half-read conventions
    // must not load.
    gl_text_pair *texts[] = {&record->int_curr_symbol, &record->currency_symbol,
                             &record->mon_decimal_point, &record->mon_thousands_sep};
    for (gl_text_pair *t : texts)
        if ((t->mb = str_readallc(stream, error)) == nullptr) return -1;
    if (read_group(stream, &record->mon_grouping, error) != 0) return -1;
    gl_text_pair *signs[] = {&record->positive_sign, &record->negative_sign};
    for (gl_text_pair *t : signs)
        if ((t->mb = str_readallc(stream, error)) == nullptr) return -1;
    for (int &v : record->mon_ints) {
        v = _gl_get_int(stream);
        _gl_skip_whitespace(stream);
    }
    return 0;
}

int _gl_read_messages(FILE *stream, gl_locale *record, int *error) {
    gl_text_pair *texts[] = {&record->yes_expr, &record->no_expr, &record->yes_str, &record->no_str};
    for (gl_text_pair *t : texts)
        if ((t->mb = str_readallc(stream, error)) == nullptr) return -1;
    return 0;
}

int _gl_read_time(FILE *stream, gl_ltime *time, int *error) {
    std::memset(time, 0, sizeof *time);
    char line[kCalendarLine];
    int length = read_line(stream, line, kCalendarLine);
    if (length < 1) {
        *error = GL_ECALENDAR;
        return -1;
    }
    for (const gl_calendar_name *row = gls_canned_calendars; row->name != nullptr; ++row) {
        if (std::strcmp(line, row->name) == 0) {
            time->calendar = row->id;
            break;
        }
    }
    if (time->calendar == 0) {
        *error = GL_ECALENDAR;
        return -1;
    }
    int code = 0;
    if (!read_strings(stream, time->abday, 7, &code) || !read_strings(stream, time->day, 7, &code)) {
        *error = time_code(code);
        return -1;
    }
    if (read_text_list(stream, &time->abmon, error) != 0 ||
        read_text_list(stream, &time->mon, error) != 0)
        return -1;
    char **formats[] = {&time->d_t_fmt, &time->d_fmt, &time->t_fmt,
                        &time->am_pm[0], &time->am_pm[1], &time->t_fmt_ampm};
    for (char **slot : formats) {
        if ((*slot = str_readallc(stream, &code)) == nullptr) {
            *error = time_code(code);
            return -1;
        }
    }
    int eras = read_count(stream);
    if (eras < 0 || !count_fits(stream, eras, 2)) {
        *error = GL_EBADFILE;
        return -1;
    }
    if (eras > 0) {
        time->eras.strings = alloc_zeroed<char *>(static_cast<std::size_t>(eras));
        if (time->eras.strings == nullptr) {
            *error = GL_ENOMEM;
            return -1;
        }
        time->eras.count = eras;
        if (!read_strings(stream, time->eras.strings, eras, &code)) {
            *error = time_code(code);
            return -1;
        }
    }
    char **era_formats[] = {&time->era_d_fmt, &time->era_t_fmt, &time->era_d_t_fmt};
    for (char **slot : era_formats) {
        if ((*slot = str_readallc(stream, &code)) == nullptr) {
            *error = time_code(code);
            return -1;
        }
    }
    if (read_text_list(stream, &time->alt_digits, error) != 0) {
        glslib::free_string_array(time->alt_digits.mb, time->alt_digits.count);
        _gl_free_ptr(time->alt_digits.wc);
        time->alt_digits.mb = nullptr;
        time->alt_digits.wc = nullptr;
        time->alt_digits.count = 0;
        return -1;
    }
    _gl_skip_whitespace(stream);
    return 0;
}

}  // extern "C"

// ---- Era strings ----------------------------------------------------------

namespace {

// A parser over one era string in wide characters.
class EraParser {
public:
    EraParser(gl_locale *record, const gl_wchar *text) : record_(record), p_(text) {}

    // Fills era; 0, or the error number (49 malformed, 3 names / memory).
    int parse(era_record *era) {
        if (*p_ == '+') {
            era->direction = 1;
        } else if (*p_ == '-') {
            era->direction = -1;
        } else {
            return GL_EERA;
        }
        ++p_;
        if (!colon() || !number(&era->offset)) return GL_EERA;
        if (!colon() || !date(&era->start_year, &era->start_month, &era->start_day)) return GL_EERA;
        if (!colon()) return GL_EERA;
        if ((p_[0] == '+' || p_[0] == '-') && p_[1] == '*') {
            era->end_kind = p_[0] == '+' ? 1 : -1;
            p_ += 2;
        } else if (date(&era->end_year, &era->end_month, &era->end_day)) {
            era->end_kind = 0;
        } else {
            return GL_EERA;
        }
        if (!colon()) return GL_EERA;
        const gl_wchar *name = p_;
        const gl_wchar *end = find_colon(name);
        if (end == nullptr) return GL_ENOMEM;
        if ((era->era_name = narrow(name, end)) == nullptr) return GL_ENOMEM;
        name = end + 1;
        end = find_colon(name);
        if (end == nullptr) return GL_ENOMEM;
        if ((era->era_name2 = narrow(name, end)) == nullptr) return GL_ENOMEM;
        name = end + 1;
        end = name;
        while (*end != 0) ++end;
        if ((era->era_year_format = narrow(name, end)) == nullptr) return GL_ENOMEM;
        return 0;
    }

private:
    bool colon() {
        if (*p_ != ':') return false;
        ++p_;
        return true;
    }

    bool number(int32_t *value) {
        bool negative = false;
        if (*p_ == '-') {
            negative = true;
            ++p_;
        }
        if (*p_ < '0' || *p_ > '9') return false;
        long long v = 0;
        while (*p_ >= '0' && *p_ <= '9') {
            v = v * 10 + (*p_ - '0');
            if (v > 0x7fffffffLL) return false;
            ++p_;
        }
        *value = static_cast<int32_t>(negative ? -v : v);
        return true;
    }

    bool date(int32_t *year, int32_t *month, int32_t *day) {
        if (!number(year) || *p_ != '/') return false;
        ++p_;
        if (!number(month) || *p_ != '/') return false;
        ++p_;
        return number(day);
    }

    static const gl_wchar *find_colon(const gl_wchar *p) {
        while (*p != 0 && *p != ':') ++p;
        return *p == ':' ? p : nullptr;
    }

    // The characters [from, to) in the locale's multibyte form, terminated
    // by four zero bytes.
    char *narrow(const gl_wchar *from, const gl_wchar *to) {
        std::size_t count = static_cast<std::size_t>(to - from);
        auto *bytes = static_cast<unsigned char *>(_gl_alloc_ptr(count * 4 + 4));
        if (bytes == nullptr) return nullptr;
        std::size_t length = 0;
        for (const gl_wchar *c = from; c < to; ++c) {
            if (record_->single_byte) {
                bytes[length++] = static_cast<unsigned char>(*c & 0xFF);
            } else {
                int n = gl_full_wctomb(record_, bytes + length, *c);
                if (n < 0) {
                    _gl_free_ptr(bytes);
                    return nullptr;
                }
                length += static_cast<std::size_t>(n);
            }
        }
        std::memset(bytes + length, 0, 4);
        return reinterpret_cast<char *>(bytes);
    }

    gl_locale *record_;
    const gl_wchar *p_;
};

void free_era_record(era_record *era) {
    if (era == nullptr) return;
    _gl_free_ptr(era->era_name);
    _gl_free_ptr(era->era_name2);
    _gl_free_ptr(era->era_year_format);
    _gl_free_ptr(era->era_year_format_wc);
    _gl_free_ptr(era);
}

// Texts joined by the code set's newline character, ending in four zero
// bytes. NULL with error 3 (or the encoder's error).
char *join_texts(gl_locale *record, char *const *texts, int count) {
    unsigned char newline[4] = {'\n', 0, 0, 0};
    std::size_t newline_length = 1;
    if (!record->single_byte) {
        int n = gl_full_wctomb(record, newline, '\n');
        if (n < 1) return nullptr;
        newline_length = static_cast<std::size_t>(n);
    }
    std::size_t total = 4;
    for (int i = 0; i < count; ++i) total += glslib::text_length(record, texts[i]) + newline_length;
    auto *joined = static_cast<char *>(_gl_alloc_ptr(total));
    if (joined == nullptr) {
        store_error(record, GL_ENOMEM);
        return nullptr;
    }
    std::size_t at = 0;
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            std::memcpy(joined + at, newline, newline_length);
            at += newline_length;
        }
        std::size_t n = glslib::text_length(record, texts[i]);
        if (n > 0) std::memcpy(joined + at, texts[i], n);
        at += n;
    }
    std::memset(joined + at, 0, 4);
    return joined;
}

}  // namespace

namespace glslib {

void free_era_records(gl_ltime *time) {
    if (time->eras.records == nullptr) return;
    for (int i = 0; i < time->eras.count; ++i) free_era_record(time->eras.records[i]);
    _gl_free_ptr(time->eras.records);
    time->eras.records = nullptr;
}

}  // namespace glslib

extern "C" {

int init_era_info(gl_locale *record) {
    gl_ltime *time = &record->ltime;
    glslib::free_era_records(time);
    const int count = time->eras.count;
    if (count < 1 || time->eras.strings == nullptr) return 0;
    auto **records = alloc_zeroed<era_record *>(static_cast<std::size_t>(count));
    if (records == nullptr) {
        store_error(record, GL_ENOMEM);
        return -1;
    }
    for (int i = 0; i < count; ++i) {
        int error = GL_ENOMEM;
        gl_wchar *wide = glslib::widen_text(record, time->eras.strings[i]);
        era_record *era = alloc_zeroed<era_record>(1);
        if (wide == nullptr && time->eras.strings[i] != nullptr && glslib::load_error(record) != 0) {
            error = glslib::load_error(record);  // the converter's reason
        } else if (wide != nullptr && era != nullptr) {
            error = EraParser(record, wide).parse(era);
        }
        _gl_free_ptr(wide);
        if (era != nullptr) records[i] = era;
        if (error != 0) {
            for (int j = 0; j <= i; ++j) free_era_record(records[j]);
            _gl_free_ptr(records);
            store_error(record, error);
            return -1;
        }
    }
    time->eras.records = records;

    _gl_free_ptr(time->era_joined.mb);
    _gl_free_ptr(time->alt_digits_joined.mb);
    time->era_joined.mb = nullptr;
    time->alt_digits_joined.mb = nullptr;
    time->era_joined.mb = join_texts(record, time->eras.strings, count);
    if (time->era_joined.mb == nullptr) return -1;
    if (time->alt_digits.count > 0) {
        time->alt_digits_joined.mb = join_texts(record, time->alt_digits.mb, time->alt_digits.count);
        if (time->alt_digits_joined.mb == nullptr) return -1;
    }
    return 0;
}

}  // extern "C"
