/*
** cursor_names.cpp: the checks and counts the cursor calls make on
** names and statement texts: cursor and statement names (`_gchkname`),
** the ANSI reserved words (`ansikw`, `a_kwcheck`), placeholders outside
** quotes and comments (`gstrqmarks`, `_sqcmdqmarks`), and the private
** copies of statement texts that cursor records keep.
*/
#include <cstring>

#include "os_context.h"
#include "os_stored.h"
#include "sqli_cursors.h"
#include "sqli_seams.h"
#include "sqli_text.h"
#include "sqli_text_chars.h"

namespace {

constexpr int name_max = 128;

bool is_class(gl_locale *loc, gl_wchar wc, int mask) { return sqli_text_class(loc, wc, mask) != 0; }

/* A character allowed in a name: any alphanumeric, punctuation or space
** character with DELIMIDENT set; else alphanumerics, "_" and "$". */
bool name_char(gl_locale *loc, gl_wchar wc, bool delimident) {
  if (delimident)
    return is_class(loc, wc, GL_CLASS_ALPHA | GL_CLASS_DIGIT | GL_CLASS_PUNCT | GL_CLASS_SPACE);
  return wc == '_' || wc == '$' || is_class(loc, wc, GL_CLASS_ALPHA | GL_CLASS_DIGIT);
}

}  // namespace

/* The ANSI reserved words in ascending byte order, ended by a null. */
const char *const ansikw[] = {
    "all",       "and",      "any",     "as",         "asc",       "authorization",
    "avg",       "begin",    "between", "by",         "char",      "character",
    "check",     "close",    "cobol",   "commit",     "continue",  "count",
    "create",    "current",  "cursor",  "dec",        "decimal",   "declare",
    "default",   "delete",   "desc",    "distinct",   "double",    "end",
    "escape",    "exec",     "exists",  "fetch",      "float",     "for",
    "foreign",   "fortran",  "found",   "from",       "go",        "goto",
    "grant",     "group",    "having",  "in",         "indicator", "insert",
    "int",       "integer",  "into",    "is",         "key",       "language",
    "like",      "max",      "min",     "module",     "not",       "null",
    "numeric",   "of",       "on",      "open",       "option",    "or",
    "order",     "pascal",   "pli",     "precision",  "primary",   "privileges",
    "procedure", "public",   "real",    "references", "rollback",  "schema",
    "section",   "select",   "set",     "smallint",   "some",      "sql",
    "sqlcode",   "sqlerror", "sum",     "table",      "to",        "union",
    "unique",    "update",   "user",    "values",     "view",      "whenever",
    "where",     "with",     "work",    nullptr};

int16_t ansikwsize = 0;

/* Counts ansikw into ansikwsize. */
void cntansikw() {
  int16_t n = 0;
  while (ansikw[n] != nullptr)
    ++n;
  ansikwsize = n;
}

int a_kwcheck(const char *word) {
  if (word == nullptr) return -1;
  char lower[32];
  const size_t len = std::strlen(word);
  if (len >= sizeof lower) return -1; /* longer than every reserved word */
  std::memcpy(lower, word, len + 1);
  rdownshift(lower);
  if (ansikwsize == 0) cntansikw();
  int lo = 0;
  int hi = ansikwsize - 1;
  while (lo <= hi) {
    const int mid = (lo + hi) / 2;
    const int cmp = stcmpr(lower, ansikw[mid]);
    if (cmp == 0) return 0;
    if (cmp < 0)
      hi = mid - 1;
    else
      lo = mid + 1;
  }
  return -1;
}

int _gchkname(const char *name, const char *delimident, char *out) {
  if (name == nullptr || out == nullptr) return -1;
  const size_t len = std::strlen(name);
  if (len == 0 || len > name_max) return -1;
  const bool delim = delimident != nullptr;
  gl_locale *loc = sqli_text_locale();
  sqli_wide_text wide {};
  /* The first character decides, as a character of the locale. */
  const int first_len = sqli_text_char_length(loc, name, static_cast<int>(len));
  char first[8] = {};
  std::memcpy(first, name, static_cast<size_t>(first_len));
  if (sqli_text_to_wide(loc, first, wide) != 1) return -1;
  const gl_wchar c0 = wide[0];
  const bool first_ok =
      delim ? is_class(loc, c0, GL_CLASS_ALPHA | GL_CLASS_DIGIT | GL_CLASS_PUNCT | GL_CLASS_SPACE)
            : (c0 == '_' || is_class(loc, c0, GL_CLASS_ALPHA));
  if (!first_ok) return -1;
  std::memcpy(out, name, len + 1);
  size_t cut = len;
  while (cut > 0 && out[cut - 1] == ' ')
    --cut;
  out[cut] = 0;
  const int n = sqli_text_to_wide(loc, out, wide);
  if (n < 0) return -1;
  for (int i = 0; i < n; ++i) {
    const gl_wchar wc = wide[static_cast<size_t>(i)];
    if (!name_char(loc, wc, delim)) return -1;
    if (!delim && wc == '$' && i == 0) return -1;
  }
  return 0;
}

int gstrqmarks(const char *text) {
  if (text == nullptr || *text == 0) return 0;
  gl_locale *loc = sqli_text_locale();
  const int total = static_cast<int>(std::strlen(text));
  int count = 0;
  char quote = ' '; /* the open quote, blank outside */
  bool quote_switch = false; /* flips at every quote character */
  char comment = 0; /* '{', '-' or '/' while in a comment */
  bool literal_seen = false; /* a collection literal's brace was met */
  for (int at = 0; at < total;) {
    const int len = sqli_text_char_length(loc, text + at, total - at);
    if (len != 1) { /* no special character is more than one byte */
      at += len > 0 ? len : 1;
      continue;
    }
    const char c = text[at];
    const char next = at + 1 < total ? text[at + 1] : 0;
    /* An opener: a brace comment (unless a collection literal), a double dash or a
    ** slash-star pair. */
    char opener = 0;
    int opener_len = 1;
    if (!quote_switch) {
      if (c == '{' && !literal_seen) {
        int word_end = at;
        while (word_end > 0 && text[word_end - 1] == ' ')
          --word_end;
        int word = word_end;
        while (word > 0 && ((text[word - 1] | 0x20) >= 'a' && (text[word - 1] | 0x20) <= 'z'))
          --word;
        if (word < word_end && collection_literal(text + word, text + at) != 0)
          literal_seen = true;
        else
          opener = '{';
      } else if (c == '-' && next == '-') {
        opener = '-';
        opener_len = 2;
      } else if (c == '/' && next == '*') {
        opener = '/';
        opener_len = 2;
      }
    }
    if (comment != 0) {
      if (opener != 0) {
        comment = opener;
        at += opener_len;
        continue;
      }
      if ((comment == '{' && c == '}') || (comment == '-' && c == '\n')) {
        comment = 0;
      } else if (comment == '/' && c == '*' && next == '/') {
        comment = 0;
        at += 2;
        continue;
      }
      ++at;
      continue;
    }
    if (opener != 0) {
      comment = opener;
      at += opener_len;
      continue;
    }
    if (c == '\'' || c == '"') {
      quote_switch = !quote_switch;
      if (quote == ' ')
        quote = c;
      else if (quote == c)
        quote = ' ';
    } else if (c == '?' && quote == ' ') {
      ++count;
    }
    ++at;
  }
  return count;
}

int _sqcmdqmarks(const char *const *cmdtxt) {
  int count = 0;
  if (cmdtxt == nullptr) return 0;
  for (; *cmdtxt != nullptr; ++cmdtxt)
    count += gstrqmarks(*cmdtxt);
  return count;
}

void _sqfrcmdtxt(char **copy) {
  if (copy == nullptr) return;
  for (char **p = copy; *p != nullptr; ++p)
    sqli_release(*p);
  sqli_release(copy);
}

int _sqcopycmdtxt(const char *const *src, void *handle, int) {
  sqli_cursor *cursor = sqli_handle_cursor(handle);
  if (cursor == nullptr) return -1;
  _sqfrcmdtxt(cursor->stmt_text);
  cursor->stmt_text = nullptr;
  if (src == nullptr) return -1;
  size_t n = 0;
  while (src[n] != nullptr)
    ++n;
  auto **copy = static_cast<char **>(sqli_alloc((n + 1) * sizeof(char *)));
  if (copy == nullptr) return -1;
  for (size_t i = 0; i < n; ++i) {
    const size_t len = std::strlen(src[i]);
    copy[i] = static_cast<char *>(sqli_alloc(len + 1));
    if (copy[i] == nullptr) {
      _sqfrcmdtxt(copy);
      return -1;
    }
    std::memcpy(copy[i], src[i], len + 1);
  }
  if (n > 0) { /* the last fragment loses its trailing blanks */
    char *last = copy[n - 1];
    size_t len = std::strlen(last);
    while (len > 0 && last[len - 1] == ' ')
      last[--len] = 0;
  }
  cursor->stmt_text = copy;
  return 0;
}

int _sqcmpcmdtxt(const char *const *a, const char *const *b) {
  if (a == nullptr || b == nullptr) return 1;
  for (; *a != nullptr && *b != nullptr; ++a, ++b)
    if (std::strcmp(*a, *b) != 0) return 1;
  return *a == nullptr && *b == nullptr ? 0 : 1;
}
