/*
** SQL text helpers (sqli_text.h): database references, delimited
** identifiers, qualified table references, the old short form of names,
** unfinished routine texts, collection literals and case-blind
** comparison. Callers: the connect request, cursor declaration, fetch and
** describe paths of the runtime, and its callers.
**
** Every class test and case mapping goes through the current locale
** environment's locale: its byte tables in a single-byte locale, its wide
** class and case functions otherwise. Routines that compare or rewrite
** text convert it to at most 256 wide characters first (characters of
** the locale library: a character's bytes packed big-endian) and write
** results back within their documented sizes, never past them.
*/
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "gl_chars.h"
#include "os_env.h"
#include "os_glsenv.h"
#include "sqli_text.h"
#include "sqli_text_chars.h"

namespace {

constexpr int wide_max = 256;
/* Longest part of a qualified reference, in characters: the owner's and
** the others'. Outputs hold that many bytes, two quotes and a NUL. */
constexpr int part_max = 128;
constexpr int owner_max = 32;
/* Size of conv_delim's output. */
constexpr int delim_out = 256;
/* Limits of the old short forms, in characters. */
constexpr int old_name_max = 18;
constexpr int old_owner_max = 8;

using wide_text = std::array<gl_wchar, wide_max + 1>;

/* The current locale, or null when the client locale cannot be set up
** (the helpers then treat the text as ASCII bytes). */
gl_locale *current_locale() {
  if (chkglsinit() != 0) return nullptr;
  gls_env *env = CheckGlsEnv();
  return env != nullptr ? env->locale : nullptr;
}

bool single_byte(const gl_locale *loc) { return loc == nullptr || loc->single_byte == 1; }

/* The class mask of wc AND mask. A single-byte locale looks the value up
** in its byte table; a value above 255 belongs to no class there. */
int char_class(gl_locale *loc, gl_wchar wc, int mask) {
  if (loc == nullptr) {
    if (wc > 127) return 0;
    const auto c = static_cast<unsigned char>(wc);
    int m = 0;
    if (c >= 'A' && c <= 'Z') m |= GL_CLASS_UPPER | GL_CLASS_ALPHA;
    if (c >= 'a' && c <= 'z') m |= GL_CLASS_LOWER | GL_CLASS_ALPHA;
    if (c >= '0' && c <= '9') m |= GL_CLASS_DIGIT;
    if (c == ' ' || (c >= '\t' && c <= '\r')) m |= GL_CLASS_SPACE;
    if (c > ' ' && c < 127 && (m & (GL_CLASS_ALPHA | GL_CLASS_DIGIT)) == 0) m |= GL_CLASS_PUNCT;
    return m & mask;
  }
  if (loc->single_byte == 1 && loc->class_map != nullptr) {
    if (wc > 255) {
      loc->error = 1;
      return 0;
    }
    return loc->class_map[wc] & mask;
  }
  return _gl_im_iswctype(loc, wc, mask);
}

gl_wchar to_lower(gl_locale *loc, gl_wchar wc) {
  if (loc == nullptr) return wc >= 'A' && wc <= 'Z' ? wc + 32 : wc;
  if (loc->single_byte == 1 && loc->lower_map != nullptr) return wc > 255 ? wc : loc->lower_map[wc];
  return _gl_im_towlower(loc, wc);
}

gl_wchar to_upper(gl_locale *loc, gl_wchar wc) {
  if (loc == nullptr) return wc >= 'a' && wc <= 'z' ? wc - 32 : wc;
  if (loc->single_byte == 1 && loc->upper_map != nullptr) return wc > 255 ? wc : loc->upper_map[wc];
  return _gl_im_towupper(loc, wc);
}

bool is_alpha(gl_locale *loc, gl_wchar wc) { return char_class(loc, wc, GL_CLASS_ALPHA) != 0; }
bool is_digit(gl_locale *loc, gl_wchar wc) { return char_class(loc, wc, GL_CLASS_DIGIT) != 0; }
bool is_space(gl_locale *loc, gl_wchar wc) { return char_class(loc, wc, GL_CLASS_SPACE) != 0; }
bool is_punct(gl_locale *loc, gl_wchar wc) { return char_class(loc, wc, GL_CLASS_PUNCT) != 0; }
bool is_word_char(gl_locale *loc, gl_wchar wc) {
  return wc == '_' || wc == '$' || is_alpha(loc, wc) || is_digit(loc, wc);
}

/* Converts s to at most 256 wide characters (terminated). Returns the
** count, or -1 when s is no text of the locale. */
int to_wide(gl_locale *loc, const char *s, wide_text &out) {
  const auto *bytes = reinterpret_cast<const unsigned char *>(s);
  int n;
  if (loc == nullptr) {
    n = 0;
    while (n < wide_max && bytes[n] != 0) {
      out[static_cast<size_t>(n)] = bytes[n];
      ++n;
    }
  } else {
    n = loc->mbstowcs_fn(loc, out.data(), bytes, wide_max);
    if (n < 0) return -1;
  }
  out[static_cast<size_t>(n)] = 0;
  return n;
}

/* Writes count wide characters as text into out (size bytes with the
** NUL). Returns the bytes written without the NUL, or -1 (out then empty)
** when they do not all fit or a character is not one of the locale's. */
int to_text(gl_locale *loc, const gl_wchar *wcs, int count, char *out, int size) {
  if (size < 1) return -1;
  auto *to = reinterpret_cast<unsigned char *>(out);
  int used = 0;
  for (int i = 0; i < count; ++i) {
    unsigned char bytes[4];
    int len = 1;
    if (loc == nullptr) {
      bytes[0] = static_cast<unsigned char>(wcs[i]);
      if (wcs[i] > 255) len = 0;
    } else {
      len = gl_full_wctomb(loc, bytes, wcs[i]);
    }
    if (len <= 0 || used + len > size - 1) {
      to[0] = 0;
      return -1;
    }
    std::memcpy(to + used, bytes, static_cast<size_t>(len));
    used += len;
  }
  to[used] = 0;
  return used;
}

/* Byte length of the character at s (at most n bytes), 1 for a byte that
** begins no character; 0 at the terminator or when n < 1. */
int char_length(gl_locale *loc, const char *s, int n) {
  if (n < 1 || *s == 0) return 0;
  if (single_byte(loc)) return 1;
  const int len = _dvz_gl_full_mblen(loc, reinterpret_cast<const unsigned char *>(s), n);
  return len > 0 ? len : 1;
}

/* The wide character at s (its length in *len), or the byte itself. */
gl_wchar char_at(gl_locale *loc, const char *s, int *len) {
  const auto *bytes = reinterpret_cast<const unsigned char *>(s);
  if (single_byte(loc)) {
    *len = *bytes != 0 ? 1 : 0;
    return *bytes;
  }
  gl_wchar wc = 0;
  const int l = _dvz_gl_full_mbtowc(loc, &wc, bytes, -1);
  if (l <= 0) {
    *len = *bytes != 0 ? 1 : 0;
    return *bytes;
  }
  *len = l;
  return wc;
}

bool space_byte(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

/* Copies at most n bytes of from into a terminated buffer of size. */
bool copy_part(char *to, int size, const char *from, size_t n) {
  if (n >= static_cast<size_t>(size)) return false;
  std::memcpy(to, from, n);
  to[n] = 0;
  return true;
}

}  // namespace

/* ---- Database references -------------------------------------------------------------- */

int _gpdbenv(const char *reference, char *server, int server_size, char *database,
             int database_size, int32_t *path, int32_t *slash_form) {
  if (server != nullptr && server_size > 0) server[0] = 0;
  if (database != nullptr && database_size > 0) database[0] = 0;
  *path = 0;
  *slash_form = 0;
  if (reference == nullptr || reference[0] == 0 || server == nullptr || database == nullptr)
    return -1;
  gl_locale *loc = current_locale();
  const std::string_view ref(reference);
  /* The first "@" that is a character of its own. */
  size_t at = std::string_view::npos;
  for (size_t i = 0; i < ref.size();) {
    if (ref[i] == '@') {
      at = i;
      break;
    }
    i += static_cast<size_t>(char_length(loc, reference + i, static_cast<int>(ref.size() - i)));
  }
  if (at != std::string_view::npos) {
    if (at >= static_cast<size_t>(database_size)) return -1;
    if (at > 0) copy_part(database, database_size, reference, at);
    const std::string_view srv = ref.substr(at + 1);
    if (srv.empty() || !copy_part(server, server_size, srv.data(), srv.size())) return -1;
  } else if (ref.substr(0, 2) != "//") {
    if (!copy_part(database, database_size, reference, ref.size())) return -1;
  } else {
    *slash_form = 1;
    const std::string_view rest = ref.substr(2);
    const size_t slash = rest.find('/');
    const std::string_view srv = rest.substr(0, slash);
    if (srv.empty() || !copy_part(server, server_size, srv.data(), srv.size())) return -1;
    if (slash != std::string_view::npos) {
      const std::string_view db = rest.substr(slash);
      if (!copy_part(database, database_size, db.data(), db.size())) return -1;
    }
  }
  /* The path test skips the leading "/" of the slash form. */
  const char *p = database;
  if (*p != 0 && *slash_form == 1) p += char_length(loc, p, static_cast<int>(std::strlen(p)));
  while (*p != 0) {
    if (*p == '/') {
      *path = 1;
      break;
    }
    p += char_length(loc, p, static_cast<int>(std::strlen(p)));
  }
  return 0;
}

/* ---- Delimited identifiers --------------------------------------------------------------- */

int conv_delim(const char *identifier, char *out) {
  if (identifier == nullptr || out == nullptr) return 1;
  const size_t given = std::min(std::strlen(identifier), static_cast<size_t>(delim_out - 1));
  std::memcpy(out, identifier, given);
  out[given] = 0;
  size_t trimmed = given;
  while (trimmed > 0 && out[trimmed - 1] == ' ')
    --trimmed;
  out[trimmed] = 0;
  const bool delimident = ggetenv("DELIMIDENT") != nullptr;
  gl_locale *loc = current_locale();
  wide_text w;
  const int n = to_wide(loc, out, w);
  if (n < 0) return 1;
  bool regular = true;
  for (int i = 0; i < n && regular; ++i) {
    const gl_wchar c = w[static_cast<size_t>(i)];
    const bool lower_letter = is_alpha(loc, c) && char_class(loc, c, GL_CLASS_LOWER) != 0;
    regular = lower_letter || c == '_' || (i > 0 && (c == '$' || is_digit(loc, c)));
  }
  int32_t reserved = 0;
  if (regular && gkwlook(identifier, &reserved) >= 0) regular = false;
  if (!regular && delimident) {
    std::array<gl_wchar, 2 * wide_max + 3> quoted {};
    int q = 0;
    quoted[static_cast<size_t>(q++)] = '"';
    for (int i = 0; i < n; ++i) {
      const gl_wchar c = w[static_cast<size_t>(i)];
      if (c == '"') quoted[static_cast<size_t>(q++)] = '"';
      quoted[static_cast<size_t>(q++)] = c;
    }
    quoted[static_cast<size_t>(q++)] = '"';
    std::array<char, delim_out> form;
    if (to_text(loc, quoted.data(), q, form.data(), delim_out) >= 0) {
      std::memcpy(out, form.data(), std::strlen(form.data()) + 1);
      return 1;
    }
  }
  /* Unchanged, trailing blanks included. */
  std::memcpy(out, identifier, given);
  out[given] = 0;
  return 1;
}

/* ---- Qualified table references -------------------------------------------------------- */

namespace {

enum class part { column, table, owner, server, database };

struct parse_state {
  gl_locale *loc;
  const gl_wchar *w;
  int pos; /* characters not yet consumed: w[0..pos) */
  bool delimident;
};

/* Separators that may end each part, read leftwards. */
bool is_separator(part p, gl_wchar c) {
  switch (p) {
    case part::column:
      return c == '.';
    case part::table:
      return c == '.' || c == ':';
    case part::owner:
      return c == ':';
    case part::server:
      return c == '@';
    case part::database:
      return false;
  }
  return false;
}

/* One part taken leftwards into [start, end) of w. */
struct part_span {
  int start;
  int end;
  bool quoted;
  bool ended_at_blank;
  gl_wchar separator; /* the separator consumed after it, or 0 */
};

/* Reads a part quoted with quote, from its closing quote at st.pos - 1
** leftwards to its opening one, into span (quotes included). Inside
** double quotes punctuation and blanks belong to the part and a doubled
** quote stands for one (with DELIMIDENT); inside single quotes only
** letters, digits, "_" and "$". Returns 0 or an error code. */
int read_quoted(parse_state &st, gl_wchar quote, int limit, part_span &span) {
  const bool doubled_ok = quote == '"';
  int i = st.pos - 1;
  int chars = 0;
  for (;;) {
    if (i == 0) return 201;
    const gl_wchar c = st.w[i - 1];
    if (c == quote) {
      if (!(doubled_ok && i >= 2 && st.w[i - 2] == quote)) {
        --i;
        break;
      }
      if (!st.delimident) return 841;
      i -= 2;
    } else if (is_word_char(st.loc, c) ||
               (doubled_ok && (is_punct(st.loc, c) || is_space(st.loc, c)))) {
      --i;
    } else {
      return doubled_ok ? 201 : 841;
    }
    if (++chars > limit) return 200;
  }
  span.quoted = true;
  span.start = i;
  st.pos = i;
  return 0;
}

/* Reads one part ending at st.pos. Returns 0 or an error code. */
int read_part(parse_state &st, part p, part_span &span) {
  const int limit = p == part::owner ? owner_max : part_max;
  const gl_wchar last = st.w[st.pos - 1];
  span = {st.pos, st.pos, false, false, 0};
  if (last == '"') {
    if (!st.delimident && p != part::owner) return 201;
    return read_quoted(st, '"', limit, span);
  }
  if (last == '\'' && p != part::column) {
    if (p != part::owner) return 201;
    return read_quoted(st, '\'', limit, span);
  }
  int i = st.pos;
  int chars = 0;
  while (i > 0) {
    const gl_wchar c = st.w[i - 1];
    if (is_word_char(st.loc, c) || (p == part::column && (c == '\'' || c == '(' || c == ')'))) {
      --i;
      if (++chars > limit) return 200;
      continue;
    }
    if (is_separator(p, c) || (p == part::table && c == ':')) {
      span.start = i;
      span.separator = c;
      st.pos = i - 1;
      return 0;
    }
    if (is_space(st.loc, c)) {
      span.start = i;
      span.ended_at_blank = true;
      st.pos = i;
      return 0;
    }
    return 841;
  }
  span.start = 0;
  st.pos = 0;
  return 0;
}

void skip_blanks_left(parse_state &st) {
  while (st.pos > 0 && is_space(st.loc, st.w[st.pos - 1]))
    --st.pos;
}

/* Writes the part in text order into out (size bytes), case as the part
** asks. Returns 0, or 200 when its bytes do not fit. */
int write_part(const parse_state &st, const part_span &span, part p, bool upshift, char *out,
               int size) {
  std::array<gl_wchar, wide_max + 1> chars {};
  const int n = span.end - span.start;
  for (int i = 0; i < n; ++i) {
    gl_wchar c = st.w[span.start + i];
    if (!span.quoted) {
      if (p == part::owner)
        c = upshift ? to_upper(st.loc, c) : c;
      else
        c = to_lower(st.loc, c);
    }
    chars[static_cast<size_t>(i)] = c;
  }
  if (to_text(st.loc, chars.data(), n, out, size) < 0) return 200;
  if (p == part::owner && !span.quoted) {
    std::string lowered(out);
    for (char &ch : lowered)
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
    if (lowered == "dovariza") std::memcpy(out, "dovariza", 9);
  }
  return 0;
}

}  // namespace

int parsetab(const char *reference, char *database, char *server, char *owner, char *table,
             char *column, int32_t upshift_owner) {
  char *outputs[] = {column, table, owner, server, database};
  for (char *o : outputs)
    if (o != nullptr) o[0] = 0;
  if (reference == nullptr) return 841;
  gl_locale *loc = current_locale();
  wide_text w;
  const int n = to_wide(loc, reference, w);
  if (n < 0) return -9601;
  parse_state st {loc, w.data(), n, ggetenv("DELIMIDENT") != nullptr};
  bool after_separator = false;
  bool owner_absent = false;
  for (part p : {part::column, part::table, part::owner, part::server, part::database}) {
    char *out = outputs[static_cast<int>(p)];
    if (out == nullptr) continue;
    if (p == part::owner && owner_absent) continue;
    skip_blanks_left(st);
    if (st.pos == 0) return p == part::table || after_separator ? 841 : 0;
    part_span span {};
    const int code = read_part(st, p, span);
    if (code != 0) return code;
    if (span.end - span.start == 0 && !span.quoted) return 841;
    /* A server part that reaches the start of the text names the database. */
    part target = p;
    if (p == part::server && st.pos == 0 && span.separator == 0) target = part::database;
    char *to = outputs[static_cast<int>(target)];
    if (to != nullptr) {
      /* A quoted part keeps its quotes. */
      const int size = (target == part::owner ? owner_max : part_max) + 3;
      const int written = write_part(st, span, target, upshift_owner != 0, to, size);
      if (written != 0) return written;
    }
    if (target == part::database || p == part::database) {
      skip_blanks_left(st);
      return st.pos > 0 ? 841 : 0;
    }
    after_separator = span.separator != 0;
    if (span.separator == ':' && p == part::table) owner_absent = true;
    if (span.quoted || span.ended_at_blank) {
      skip_blanks_left(st);
      if (st.pos == 0) return 0;
      const gl_wchar c = st.w[st.pos - 1];
      if (!is_separator(p, c)) return 201;
      --st.pos;
      after_separator = true;
      if (p == part::table && c == ':') owner_absent = true;
    }
  }
  return 0;
}

/* ---- Old short forms ----------------------------------------------------------------------- */

int truncate_to_oldsize(char *name, int length, int long_form) {
  if (name == nullptr || length <= 0) return 0;
  const int limit = long_form != 0 ? old_name_max : old_owner_max;
  gl_locale *loc = current_locale();
  int trimmed = length;
  while (trimmed > 0 && name[trimmed - 1] == ' ')
    --trimmed;
  /* Walk at most limit whole characters within length bytes; stop at an
  ** invalid one. */
  int at = 0;
  int last = 0;
  int chars = 0;
  while (chars < limit && at < length && name[at] != 0) {
    int len = 1;
    if (!single_byte(loc)) {
      len =
          _dvz_gl_full_mblen(loc, reinterpret_cast<const unsigned char *>(name + at), length - at);
      if (len <= 0) break;
    }
    last = at;
    at += len;
    ++chars;
  }
  if (trimmed < limit + 1) {
    name[at] = 0;
  } else if (chars > 0) {
    name[last] = '+';
    name[last + 1] = 0;
  } else {
    name[0] = 0;
  }
  return 0;
}

void truncate_ident(char *name) {
  if (name == nullptr) return;
  std::array<char, part_max + 3> db {}, srv {}, table {};
  std::array<char, owner_max + 3> own {};
  if (parsetab(name, db.data(), srv.data(), own.data(), table.data(), nullptr, 0) != 0) return;
  const auto shorten = [](char *part, int long_form) {
    const int len = static_cast<int>(std::strlen(part));
    if (len > (long_form != 0 ? old_name_max : old_owner_max))
      truncate_to_oldsize(part, len, long_form);
  };
  shorten(db.data(), 1);
  shorten(srv.data(), 1);
  shorten(table.data(), 1);
  shorten(own.data(), 0);
  std::string joined = db.data();
  if (srv[0] != 0) joined += (db[0] != 0 ? "@" : "") + std::string(srv.data());
  if (own[0] != 0) {
    if (!joined.empty()) joined += ":";
    joined += own.data();
    if (table[0] != 0) joined += "." + std::string(table.data());
  } else if (table[0] != 0) {
    /* Without an owner the table joins database and server with ":", as
    ** parsetab reads it back. */
    if (!joined.empty()) joined += ":";
    joined += table.data();
  }
  if (!joined.empty() && joined.size() <= std::strlen(name))
    std::memcpy(name, joined.c_str(), joined.size() + 1);
}

/* ---- Statement text ------------------------------------------------------------------------ */

namespace {

/* skipcomments over text[0..length) from *pos. */
int skip_comments_in(const char *text, int length, int *pos) {
  int i = *pos;
  while (i < length && space_byte(text[i]))
    ++i;
  for (;;) {
    if (i < length && text[i] == '{') {
      const void *close = std::memchr(text + i, '}', static_cast<size_t>(length - i));
      if (close == nullptr) return 1;
      i = static_cast<int>(static_cast<const char *>(close) - text) + 1;
    } else if (i + 1 < length && text[i] == '-' && text[i + 1] == '-') {
      const void *eol = std::memchr(text + i, '\n', static_cast<size_t>(length - i));
      if (eol == nullptr) return 1;
      i = static_cast<int>(static_cast<const char *>(eol) - text) + 1;
    } else {
      break;
    }
    while (i < length && space_byte(text[i]))
      ++i;
  }
  *pos = i;
  return 0;
}

/* Case-blind ASCII prefix test of word at text[pos..length). */
bool starts_with(const char *text, int length, int pos, std::string_view word) {
  if (length - pos < static_cast<int>(word.size())) return false;
  for (size_t k = 0; k < word.size(); ++k) {
    char c = text[pos + static_cast<int>(k)];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != word[k]) return false;
  }
  return true;
}

}  // namespace

int gettoken(const char *text, int length, int32_t *offset) {
  int i = *offset;
  while (i < length && space_byte(text[i]))
    ++i;
  if (i >= length) {
    *offset = i;
    return sqli_tok_end_of_text;
  }
  if (text[i] == '"' || text[i] == '\'') {
    const char quote = text[i++];
    while (i < length && text[i] != quote)
      ++i;
    *offset = i < length ? i + 1 : i;
    return sqli_tok_other;
  }
  if (skip_comments_in(text, length, &i) != 0) {
    *offset = length;
    return sqli_tok_unclosed_comment;
  }
  if (i >= length) {
    *offset = i;
    return sqli_tok_end_of_text;
  }
  struct keyword {
    std::string_view word;
    int token;
  };
  static constexpr keyword words[] = {
      {"end", sqli_tok_end}, {"procedure", sqli_tok_procedure}, {"function", sqli_tok_function}};
  for (const keyword &k : words)
    if (starts_with(text, length, i, k.word)) {
      *offset = i + static_cast<int>(k.word.size());
      return k.token;
    }
  if (starts_with(text, length, i, "external") && starts_with(text, length, i + 9, "name")) {
    *offset = i + 8;
    return sqli_tok_external_name;
  }
  if (text[i] == ';') {
    *offset = i + 1;
    return sqli_tok_semicolon;
  }
  while (i < length && !space_byte(text[i]) && text[i] != ';' && text[i] != '{' && text[i] != '"' &&
         text[i] != '\'' && !(text[i] == '-' && i + 1 < length && text[i + 1] == '-'))
    ++i;
  *offset = i;
  return sqli_tok_other;
}

int chkstmt(const char *text, int length) {
  if (text == nullptr || length < 6) return 0;
  const std::string copy(text, static_cast<size_t>(length));
  if (bycbcmpr(copy.c_str(), "create", 6) != 0) return 0;
  const int len = static_cast<int>(std::strlen(copy.c_str()));
  int pos = std::min(7, len);
  if (skip_comments_in(copy.c_str(), len, &pos) != 0) return 1;
  if (starts_with(copy.c_str(), len, pos, "dba") &&
      (pos + 3 >= len || space_byte(copy[static_cast<size_t>(pos + 3)]))) {
    pos += 3;
    if (skip_comments_in(copy.c_str(), len, &pos) != 0) return 1;
  }
  int kind;
  if (starts_with(copy.c_str(), len, pos, "procedure")) {
    kind = sqli_tok_procedure;
    pos += 9;
  } else if (starts_with(copy.c_str(), len, pos, "function")) {
    kind = sqli_tok_function;
    pos += 8;
  } else {
    return 0;
  }
  bool closed = false;
  bool external = false;
  int previous = sqli_tok_other;
  int last = sqli_tok_other;
  int32_t offset = pos;
  for (;;) {
    const int token = gettoken(copy.c_str(), len, &offset);
    if (token == sqli_tok_end_of_text || token == sqli_tok_unclosed_comment) break;
    if (previous == sqli_tok_end && (token == sqli_tok_procedure || token == sqli_tok_function))
      closed = true;
    if (kind == sqli_tok_function && token == sqli_tok_external_name) external = true;
    previous = token;
    last = token;
  }
  return (closed && last == sqli_tok_semicolon) || external ? 0 : 1;
}

int skipcomments(const char **text) {
  if (text == nullptr || *text == nullptr) return 0;
  int pos = 0;
  if (skip_comments_in(*text, static_cast<int>(std::strlen(*text)), &pos) != 0) return 1;
  *text += pos;
  return 0;
}

const char *skipwhite(const char *text) {
  while (*text != 0 && space_byte(*text))
    ++text;
  return text;
}

const char *skipquote(const char *text) {
  const char quote = *text;
  const char *p = text + 1;
  while (*p != 0) {
    if (*p == quote) {
      if (p[1] != quote) return p;
      p += 2;
      continue;
    }
    ++p;
  }
  return p;
}

const char *skipword(const char *text) {
  if (*text == 0) return text;
  if (*text == '"' || *text == '\'') {
    const char *close = skipquote(text);
    return *close != 0 ? close + 1 : close;
  }
  gl_locale *loc = current_locale();
  int len = 0;
  gl_wchar c = char_at(loc, text, &len);
  if (!(c == '_' || is_alpha(loc, c) || is_digit(loc, c))) return text + std::max(len, 1);
  const char *p = text;
  while (*p != 0) {
    c = char_at(loc, p, &len);
    if (!is_word_char(loc, c)) break;
    p += std::max(len, 1);
  }
  return p;
}

/* ---- Comparisons ---------------------------------------------------------------------------- */

int bycbcmpr(const char *a, const char *b, int n) {
  if (n < 1) return 0;
  gl_locale *loc = current_locale();
  wide_text wa, wb;
  int la = to_wide(loc, a, wa);
  int lb = to_wide(loc, b, wb);
  if (la < 0 || lb < 0) { /* not text of the locale: compare the bytes */
    loc = nullptr;
    la = to_wide(nullptr, a, wa);
    lb = to_wide(nullptr, b, wb);
  }
  for (int i = 0; i < n; ++i) {
    const bool a_end = i >= la;
    const bool b_end = i >= lb;
    if (a_end && b_end) return 0;
    if (a_end) return -1;
    if (b_end) return 1;
    gl_wchar x = wa[static_cast<size_t>(i)];
    gl_wchar y = wb[static_cast<size_t>(i)];
    if (x == y) continue;
    if (is_alpha(loc, x) && is_alpha(loc, y)) {
      x = to_lower(loc, x);
      y = to_lower(loc, y);
      if (x == y) continue;
    }
    return x < y ? -1 : 1;
  }
  return 0;
}

int cbncmpr(const char *keyword, const char *text, int n) {
  gl_locale *loc = current_locale();
  wide_text wk, wt;
  const int lk = to_wide(loc, keyword, wk);
  const int lt = to_wide(loc, text, wt);
  if (lk < 0 || lt < 0) return 1;
  for (int i = 0; i < n; ++i) {
    const gl_wchar k = i < lk ? wk[static_cast<size_t>(i)] : 0;
    const gl_wchar t = i < lt ? to_lower(loc, wt[static_cast<size_t>(i)]) : 0;
    if (k != t) return 1;
    if (k == 0) return 0;
  }
  return 0;
}

const char *extpos(const char *text, const char *keyword) {
  const char *p = text;
  int depth = 0;
  const char *after = nullptr;
  while (*p != 0) {
    if (*p == '\'') {
      p = skipquote(p);
      if (*p == 0) break;
    } else if (*p == '(') {
      ++depth;
    } else if (*p == ')' && depth > 0 && --depth == 0) {
      after = p + 1;
      break;
    }
    ++p;
  }
  if (after == nullptr) {
    /* No element list: the position after "of type". */
    const char *w = skipwhite(text);
    while (*w != 0) {
      const char *next = skipwhite(skipword(w));
      if (cbncmpr("of", w, 2) == 0 && skipword(w) == w + 2 && cbncmpr("type", next, 4) == 0 &&
          skipword(next) == next + 4) {
        after = next + 4;
        break;
      }
      w = next;
    }
    if (after == nullptr) return text + std::strlen(text);
  }
  const char *at = skipwhite(after);
  const int klen = static_cast<int>(std::strlen(keyword));
  while (*at != 0 && *at != ';' && cbncmpr(keyword, at, klen) != 0)
    at = skipwhite(skipword(at));
  return at;
}

void rightshift(char *first, char *last, int n) {
  if (first == nullptr || last == nullptr || last < first) return;
  for (char *p = last; p >= first; --p)
    p[n] = *p;
}

int collection_literal(const char *first, const char *last) {
  if (first == nullptr || last == nullptr || last < first) return 0;
  if (std::strchr("smlSML", *first) == nullptr || *first == 0) return 0;
  gl_locale *loc = current_locale();
  std::string range(first, static_cast<size_t>(last - first + 1));
  range = std::string(range.c_str()); /* stop at a terminator inside */
  for (char &c : range)
    if (static_cast<unsigned char>(c) < 0x80)
      c = static_cast<char>(to_lower(loc, static_cast<unsigned char>(c)));
  size_t word = 0;
  for (std::string_view kw : {"multiset", "set", "list"})
    if (std::string_view(range).substr(0, kw.size()) == kw) {
      word = kw.size();
      break;
    }
  if (word == 0) return 0;
  while (word < range.size() && space_byte(range[word]))
    ++word;
  return word < range.size() && range[word] == '{' ? 1 : 0;
}

/* ---- Character services shared with the cursor-name checks -------------------------------- */

gl_locale *sqli_text_locale() { return current_locale(); }
int sqli_text_class(gl_locale *loc, gl_wchar wc, int mask) { return char_class(loc, wc, mask); }
int sqli_text_char_length(gl_locale *loc, const char *s, int n) { return char_length(loc, s, n); }
int sqli_text_to_wide(gl_locale *loc, const char *s, sqli_wide_text &out) {
  return to_wide(loc, s, out);
}
