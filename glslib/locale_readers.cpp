/*
** Readers of a locale file (.lco): the header check and the CTYPE,
** NUMERIC, MONETARY, MESSAGES and TIME sections, with the token and table
** helpers the COLLATE reader (collate_reader.cpp) shares.
**
** Callers: the loader (locale_load.cpp), which finds the file and the
** section marker and runs the follow-up work. Calls: the token readers and
** stream wrappers of the host services, the multi-level table reader and
** walk, the character layer (case partners) and the calendar table.
**
** Input is a file from outside: everything used to index or size memory is
** validated (malformed input is error 11 for the category), and a count is
** never trusted beyond what the rest of the stream can hold.
*/

#include "locale_readers.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "ascii.h"
#include "chars_internal.h"
#include "gl_calendar.h"
#include "locale_internal.h"
#include "multilevel_internal.h"
#include "token_readers.h"

using glslib::alloc_zeroed;
using glslib::count_fits;
using glslib::entries_at_most;
using glslib::ran_out;
using glslib::read_line;
using glslib::read_table;
using glslib::store_error;

namespace {

constexpr int calendar_line = 32; /* the calendar line: at most 31 bytes */
constexpr int class_name_size = 71; /* class names: at most 70 bytes */

/* Bytes left in the stream, or -1 when the stream cannot tell. */
long bytes_left(FILE *stream) {
  long here = _gl_ext_ftell(stream);
  if (here < 0) return -1;
  if (_gl_ext_fseek(stream, 0, SEEK_END) != 0) return -1;
  long end = _gl_ext_ftell(stream);
  _gl_ext_fseek(stream, here, SEEK_SET);
  return end < here ? -1 : end - here;
}

/* Counts the read that a failing string leaves for the TIME section. */
int time_code(int error) { return error == GL_EBADFILE ? GL_EBADFILE : GL_ENOMEM; }

}  // namespace

namespace glslib {

/* A stream that cannot tell its size gets a fixed ceiling instead. */
bool count_fits(FILE *stream, long count, long per_item) {
  if (count < 0) return false;
  if (count <= 256) return true;
  long left = bytes_left(stream);
  if (left < 0) return count <= (1L << 20);
  return count <= left / per_item;
}

bool ran_out(FILE *stream) { return _gl_ext_feof(stream) != 0; }

int read_line(FILE *stream, char *buffer, int size) {
  if (_gl_ext_fgets(buffer, size, stream) == nullptr) return -1;
  int length = static_cast<int>(std::strlen(buffer));
  if (length == size - 1 && buffer[length - 1] != '\n') {
    /* Longer than the buffer: consume the rest so the next read starts
    ** on a line boundary. */
    int c;
    do {
      c = _gl_ext_fgetc(stream);
    } while (c != '\n' && c != EOF);
    if (c == EOF && length > 0) {
      /* The text simply ended exactly at the buffer's edge. */
      return length;
    }
    return -2;
  }
  return length;
}

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

bool entries_at_most(const gl_multi_t *table, unsigned limit) {
  return multi::for_each_character(
      table, [table, limit](const unsigned char *, int, const unsigned char *entry) {
        return multi::entry_u16(table, entry) <= limit;
      });
}

}  // namespace glslib

namespace {

/* Reads one line into line (size bytes): its length with the newline, or 0
** when the line is missing, too long or ends without a newline. */
int read_whole_line(FILE *stream, char *line, int size) {
  int length = read_line(stream, line, size);
  return length >= 1 && line[length - 1] == '\n' ? length : 0;
}
/* Reads count encoded strings into slots (zeroed beforehand); false with
** *error on the first failure. */
bool read_strings(FILE *stream, char **slots, int count, int *error) {
  for (int i = 0; i < count; ++i) {
    slots[i] = str_readallc(stream, error);
    if (slots[i] == nullptr) return false;
  }
  return true;
}

/* Reads an encoded string into the multibyte side of each pair in turn;
** false with *error at the first failure (what was read stays). */
bool read_pairs(FILE *stream, std::initializer_list<gl_text_pair *> pairs, int *error) {
  for (gl_text_pair *pair : pairs)
    if ((pair->mb = str_readallc(stream, error)) == nullptr) return false;
  return true;
}

/* A count token followed by a skip; -1 (malformed) when negative. */
int read_count(FILE *stream) {
  int count = _gl_get_int(stream);
  _gl_skip_whitespace(stream);
  return count;
}

/* Reads a counted list of encoded strings into list (its mb and wc arrays
** made with count slots). A count of 0 gives no list. */
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

/* True when no character's case partner takes more bytes than
** case_expansion times the character's own: the multibyte case conversions
** write into a buffer sized by that factor, with no size to check against.
** A partner's length is what encoding it writes (also when it turns out to
** be no character, whose tested bytes are written all the same). */
bool case_pairs_fit_expansion(const gl_locale *record) {
  const gl_multi_t *ctype = record->ctype_table;
  return glslib::multi::for_each_character(
      ctype, [record, ctype](const unsigned char *bytes, int length, const unsigned char *) {
        gl_wchar wc = 0;
        for (int i = 0; i < length; ++i)
          wc = (wc << 8) | bytes[i];
        const double room = record->case_expansion * length;
        const gl_wchar partners[] = {glslib::chars::case_partner(record, wc, true),
                                     glslib::chars::case_partner(record, wc, false)};
        for (gl_wchar partner : partners) {
          if (partner == wc) continue;
          if (glslib::multi::walk_packed(ctype, partner, nullptr).length > room) return false;
        }
        return true;
      });
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
    *error = GL_ENOFILE; /* the length lacks its space */
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
  for (int i = 0; i < length; ++i)
    text[i] = static_cast<char>(_gl_get_hex_byte(stream));
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
      *error = GL_ENEGCOUNT; /* a sixteenth size has no room */
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
  char line[glslib::line_size];
  int length = read_whole_line(stream, line, glslib::line_size);
  if (length == 0) return fail(GL_EBADFILE);
  line[length - 1] = '\0';
  if (std::strcmp(line, "FILE_TYPE=locale_object") != 0) return fail(GL_EBADFILE);
  length = read_whole_line(stream, line, glslib::line_size);
  if (length == 0) return fail(GL_EBADFILE);
  line[length - 1] = '\0';
  if (std::strcmp(line, "COMPILER_VERSION=11") != 0) return fail(GL_EVERSION);
  if (read_whole_line(stream, line, glslib::line_size) == 0) return fail(GL_EBADFILE);
  const char *equals = std::strchr(line, '=');
  if (equals == nullptr || equals[1] < '0' || equals[1] > '9') return fail(GL_EBADFILE);
  long lines = std::strtol(equals + 1, nullptr, 10);
  if (lines < 3) return fail(GL_EBADFILE);
  for (long i = 3; i < lines; ++i)
    if (read_whole_line(stream, line, glslib::line_size) == 0) return fail(GL_EBADFILE);
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
      char name[class_name_size];
      _gl_get_str(name, class_name_size, stream);
      int next = _gl_ext_getc(stream);
      _gl_ext_ungetc(next, stream);
      if (name[0] == '\0' || (next != EOF && !glslib::ascii::is_space(next))) {
        store_error(record, GL_EBADFILE); /* missing or over-long name */
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

  char line[glslib::line_size];
  int length = read_whole_line(stream, line, glslib::line_size);
  if (length == 0) {
    store_error(record, GL_EBADFILE);
    return 1;
  }
  if (length == 1) {
    record->case_expansion = 4.0;
  } else {
    double factor = 0;
    /* Sizes case-conversion buffers: a factor that is no number, not
    ** positive or absurdly large would size them wrongly. */
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

int _gl_read_numeric(FILE *stream, gl_locale *record, int *error) {
  return read_pairs(stream, {&record->decimal_point, &record->thousands_sep}, error) &&
                 read_group(stream, &record->grouping, error) == 0 &&
                 read_pairs(stream, {&record->num_positive_sign, &record->num_negative_sign}, error)
             ? 0
             : -1;
}

int _gl_read_monetary(FILE *stream, gl_locale *record, int *error) {
  /* A failed string ends the read, as in NUMERIC: half-read conventions
  ** must not load. */
  const bool ok = read_pairs(stream,
                             {&record->int_curr_symbol, &record->currency_symbol,
                              &record->mon_decimal_point, &record->mon_thousands_sep},
                             error) &&
                  read_group(stream, &record->mon_grouping, error) == 0 &&
                  read_pairs(stream, {&record->positive_sign, &record->negative_sign}, error);
  if (!ok) return -1;
  for (int &v : record->mon_ints) {
    v = _gl_get_int(stream);
    _gl_skip_whitespace(stream);
  }
  return 0;
}

int _gl_read_messages(FILE *stream, gl_locale *record, int *error) {
  return read_pairs(stream,
                    {&record->yes_expr, &record->no_expr, &record->yes_str, &record->no_str}, error)
             ? 0
             : -1;
}

int _gl_read_time(FILE *stream, gl_ltime *time, int *error) {
  std::memset(time, 0, sizeof *time);
  char line[calendar_line];
  int length = read_line(stream, line, calendar_line);
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
  char **formats[] = {&time->d_t_fmt,  &time->d_fmt,    &time->t_fmt,
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
