/*
** The environment's rc files, ENVIGNORE and the NLS defaults of the LC_
** variables (os_env.h). greadenv (env_table.cpp) reads
** $DOVARIZADIR/etc/dovariza.rc and then ~/.dovariza with ldcffile, which
** pushes every value it takes onto the variable table.
**
** rc file format: a line starting with '#' is a comment and an empty line
** is skipped; any other line is a variable line "NAME<white space>value",
** the value running to the end of the line with its trailing blanks (a
** '#' inside it is part of it), and NAME alone giving the empty value. A
** last line without a newline counts, and every byte but the newline is
** an ordinary byte (0xFF included).
*/
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "env_internal.h"
#include "os_context.h"
#include "os_env.h"
#include "os_glsenv.h"

namespace {

/* Room added to a line buffer each time it fills. */
constexpr int line_buffer_step = 128;

/* The NLS variables of an rc file: taken only with a non-empty value, and
** noted in the flags. The LC_ ones, from LC_COLLATE on, get defaults in
** NLS mode, in this order. */
struct nls_variable {
  const char *name;
  int flag;
};
constexpr nls_variable nls_variables[] = {
    {"DBNLS", env_flag_dbnls},
    {"LANG", env_flag_lang},
    {"LC_COLLATE", env_flag_lc_collate},
    {"LC_CTYPE", env_flag_lc_ctype},
    {"LC_MONETARY", env_flag_lc_monetary},
    {"LC_NUMERIC", env_flag_lc_numeric},
    {"LC_TIME", env_flag_lc_time},
};

/* nls_variables[first_lc_variable] on: the LC_ variables. */
constexpr size_t first_lc_variable = 2;

/* The flag of an NLS variable, 0 for any other name. */
int nls_flag(const char *name) {
  for (const nls_variable &v : nls_variables)
    if (strcmp(v.name, name) == 0) return v.flag;
  return 0;
}

bool is_white(char c) { return (_ixctype[static_cast<unsigned char>(c) + 1] & os_ct_space) != 0; }

/* Makes room for one more byte after n in the line buffer; false (buffer
** freed, size 0) when memory is short. */
bool room_for(char **buffer, int *size, int n) {
  if (n + 1 < *size) return true;
  void *grown = realloc(*buffer, static_cast<size_t>(*size + line_buffer_step));
  if (grown == nullptr) {
    free(*buffer);
    *buffer = nullptr;
    *size = 0;
    return false;
  }
  *buffer = static_cast<char *>(grown);
  *size += line_buffer_step;
  return true;
}

/* Outcome of one variable line. */
enum class line_outcome { taken, skipped, unknown };

/* Takes one variable line (modified in place); the outcome, or a negative
** error of ginsenv through *error. */
line_outcome take_line(char *line, namelist_t *ignore, int *flags, int *error) {
  char *value = line;
  while (*value != '\0' && !is_white(*value))
    ++value;
  if (*value != '\0') {
    *value++ = '\0';
    while (*value != '\0' && is_white(*value))
      ++value;
  }
  const char *name = line;
  if (ignore != nullptr && _gsrchnamelist(ignore, name) >= 0) return line_outcome::skipped;
  int flag = nls_flag(name);
  if (flag != 0 && *value == '\0') return line_outcome::skipped;
  int rc = ginsenv(name, value);
  if (rc == -5) return line_outcome::unknown;
  if (rc != 0) {
    *error = rc;
    return line_outcome::skipped;
  }
  /* DBNLS is stored whatever its value but switches NLS mode on only for
  ** "1" and "2". */
  if (flag == env_flag_dbnls && !dvz_env::nls_mode_value(value)) flag = 0;
  *flags |= flag;
  return line_outcome::taken;
}

}  // namespace

namespace dvz_env {

int load_nls_defaults(int flags) {
  const char *lang = glangevar(flags);
  /* Copied: the pushes and puts below must not move the text under us. */
  const std::string language = lang != nullptr ? lang : "";
  for (size_t i = first_lc_variable; i < std::size(nls_variables); ++i) {
    int rc = gnlsenv(flags, nls_variables[i].flag, nls_variables[i].name,
                     lang != nullptr ? language.c_str() : nullptr);
    if (rc != 0) return rc;
  }
  return 0;
}

}  // namespace dvz_env

extern "C" {

int _ggetcfline(FILE *file, char **buffer, int *size, int *lines) {
  for (;;) {
    int c = getc(file);
    if (c == EOF) return -1;
    ++*lines;
    if (c == '\n') continue;
    if (c == '#') {
      while ((c = getc(file)) != EOF && c != '\n') {}
      if (c == EOF) return -1;
      continue;
    }
    int n = 0;
    for (; c != EOF && c != '\n'; c = getc(file)) {
      if (!room_for(buffer, size, n)) return -2;
      (*buffer)[n++] = static_cast<char>(c);
    }
    (*buffer)[n] = '\0';
    return 0;
  }
}

int ldcffile(const char *path, namelist_t *ignore, int *lines, int *flags) {
  int line_count = 0;
  int flag_word = 0;
  if (lines == nullptr) lines = &line_count;
  if (flags == nullptr) flags = &flag_word;
  *lines = 0;
  if (path == nullptr) return 0;
  FILE *file = fopen(path, "r");
  if (file == nullptr) return 0;
  int size = line_buffer_step;
  char *buffer = static_cast<char *>(malloc(static_cast<size_t>(size)));
  if (buffer == nullptr) {
    fclose(file);
    return -2;
  }
  int rc = 0;
  bool last_unknown = false;
  int read;
  while ((read = _ggetcfline(file, &buffer, &size, lines)) == 0) {
    line_outcome outcome = take_line(buffer, ignore, flags, &rc);
    if (rc != 0) break;
    last_unknown = outcome == line_outcome::unknown;
  }
  if (read == -2) rc = -2;
  free(buffer);
  fclose(file);
  if (rc == 0 && last_unknown) rc = -4;
  return rc;
}

int ignoreenv(namelist_t *list) {
  const char *names = getenv("ENVIGNORE");
  if (names == nullptr || list == nullptr) return 0;
  for (const char *p = names; *p != '\0';) {
    const char *end = strchr(p, ':');
    size_t length = end != nullptr ? static_cast<size_t>(end - p) : strlen(p);
    if (length > 0 && _gaddnamelist(list, std::string(p, length).c_str()) < 0) return -2;
    p += length;
    if (*p == ':') ++p;
  }
  return 0;
}

char *gnlsevar(const char *name, int *empty) {
  if (empty != nullptr) *empty = 0;
  char *value = name != nullptr ? getenv(name) : nullptr;
  if (value == nullptr) return nullptr;
  if (*value != '\0') return value;
  if (empty != nullptr) *empty = 1;
  return nullptr;
}

char *glangevar(int flags) {
  if (char *lang = gnlsevar("LANG", nullptr); lang != nullptr) return lang;
  if ((flags & env_flag_lang) == 0) return nullptr;
  const char *lang = dvz_env::table_value("LANG");
  return lang != nullptr && *lang != '\0' ? const_cast<char *>(lang) : nullptr;
}

int gnlsenv(int flags, int flag, const char *name, const char *language) {
  const char *fallback = language != nullptr ? language : GLS_DEFAULT_LOCALE;
  int empty = 0;
  if (gnlsevar(name, &empty) != nullptr) return ginsenv(name, fallback);
  const char *chosen = fallback;
  if ((flags & flag) != 0) {
    chosen = dvz_env::table_value(name);
  } else {
    int rc = ginsenv(name, fallback);
    if (rc != 0) return rc;
  }
  /* An empty process value would hide the default from ggetenv. */
  if (empty != 0 && chosen != nullptr) return gfeputenv(name, chosen);
  return 0;
}

}  // extern "C"
