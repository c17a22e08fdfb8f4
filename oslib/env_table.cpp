/*
** The variable table of the client environment and its look-ups
** (os_env.h). ggetenv answers from the process environment, then from the
** current locale environment's copies of the locale variables, then from
** the table, which greadenv builds once per process from the built-in
** defaults, $DOVARIZADIR/etc/dovariza.rc and ~/.dovariza, each source
** stacked on the one before.
**
** The table is an array of rows {name, current value, cursor}; each value
** is an envelem_t pushed on its row's stack and never changed in place, so
** a value handed out stays valid until gFreeEVars releases the table.
** greadenv may be entered again from inside the OS context's creation (the
** locale initialisation reads the environment): it creates the context
** first and tests for the table afterwards, so a table built by the nested
** call counts and is built once.
*/
#include <strings.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "env_internal.h"
#include "os_context.h"
#include "os_conv.h"
#include "os_env.h"
#include "os_glsenv.h"
#include "os_wrappers.h"

extern "C" {

int gerrno = 0;

const envdef_t Dvz_DVals[] = {
    {"ASFDEBUG", nullptr},
    {"CR_LOCKBLOB", nullptr},
    {"LOCKSSFU", nullptr},
    {"DBAPICODE", nullptr},
    {"DBBLOBBUF", nullptr},
    {"DBDATE", nullptr},
    {"DBDEFAULTMODE", nullptr},
    {"DBDELIMITER", "|"},
    {"DBLANG", nullptr},
    {"DBMONEY", nullptr},
    {"DBPATH", "."},
    {"DBPRINT", "lp -s"},
    {"DBTEMP", "/tmp"},
    {"DBTIME", nullptr},
    {"DBTODAY", nullptr},
    {"DBMAXPROC", nullptr},
    {"DBVCLOSE", nullptr},
    {"ENVIGNORE", nullptr},
    {"DVZ_DW_OPT", nullptr},
    {"DVZ_NOZEROMDY", nullptr},
    {"DOVARIZAASFDBG", nullptr},
    {"DOVARIZACONRETRY", nullptr},
    {"DOVARIZACONTIME", nullptr},
    {"DOVARIZADIR", DVZ_DEFAULT_DOVARIZADIR},
    {"DOVARIZAOPCACHE", nullptr},
    {"DOVARIZASERVER", nullptr},
    {"DOVARIZASQLHOSTS", nullptr},
    {"RARODAZIRAVAVIDOZ", nullptr},
    {"DOVARIZAKEYTAB", nullptr},
    {"DOVARIZATERM", "termcap"},
    {"DVZ_LISTEN_TIMEOUT", nullptr},
    {"DVZ_NO_OROPT", nullptr},
    {"DVZ_UPDDESC", nullptr},
    {"DVZ_USE_PREC_16", nullptr},
    {"FET_BUF_SIZE", nullptr},
    {"LD_LIBRARY_PATH", nullptr},
    {"ONCONFIG", nullptr},
    {"OPTOFC", nullptr},
    {"PATH", nullptr},
    {"QPLANTEST", nullptr},
    {"SQDEBUG", nullptr},
    {"SQLIDEBUG", nullptr},
    {"TBCONFIG", "onconfig"},
    {"TERM", "dumb"},
    {"TERMCAP", "/etc/termcap"},
    {"TZ", nullptr},
    {"DBNLS", nullptr},
    {"COLLCHAR", nullptr},
    {"LANG", nullptr},
    {"LC_COLLATE", nullptr},
    {"LC_CTYPE", nullptr},
    {"LC_MONETARY", nullptr},
    {"LC_NUMERIC", nullptr},
    {"LC_TIME", nullptr},
    {"DELIMIDENT", nullptr},
    {"GLS8BITFSYS", nullptr},
    {"CC8BITLEVEL", nullptr},
    {"GL_DATE", nullptr},
    {"GL_DATETIME", nullptr},
    {"GL_MATCHES", nullptr},
    {"DB_LOCALE", nullptr},
    {"CLIENT_LOCALE", nullptr},
    {"SERVER_LOCALE", nullptr},
    {"DBALSBC", nullptr},
    {"DBASCIIBC", nullptr},
    {"DBCODESET", nullptr},
    {"DBCONNECT", nullptr},
    {"DBCSOVERRIDE", nullptr},
    {"DBCSCONV", nullptr},
    {"DBCENTURY", nullptr},
    {"DBSPACETEMP", nullptr},
    {"DBUPSPACE", nullptr},
    {"DEBUG", nullptr},
    {"DUMPCORE", nullptr},
    {"DUMPDIR", nullptr},
    {"DUMPMEM", nullptr},
    {"DUMPSHMEM", nullptr},
    {"GCORE", nullptr},
    {"DOVARIZASTACKSIZE", nullptr},
    {"LIGHT_SCANS", nullptr},
    {"NOSHMSG", nullptr},
    {"NOSORTINDEX", nullptr},
    {"SORTINDEX", nullptr},
    {"DVZ_DIRECTIVES", nullptr},
    {"DVZ_LONGID", nullptr},
    {"DVZ_PAD_VARCHAR", nullptr},
    {"OPTCOMPIND", nullptr},
    {"SUBQCACHESZ", "10"},
    {"NO_KEYFIRST", nullptr},
    {"NO_KEYSTART", nullptr},
    {"NO_PREDPROMOTE", nullptr},
    {"NO_SUBQF", nullptr},
    {"DVZ_FLAT_UCSQ", nullptr},
    {"ANSIOWNER", nullptr},
    {"UVIEW_CRTTMP", nullptr},
    {"PDQPRIORITY", nullptr},
    {"PSORT_DBTEMP", nullptr},
    {"PSORT_NPROCS", nullptr},
    {"SHELL", nullptr},
    {"SQLHOSTS", nullptr},
    {"SQLSTATS", nullptr},
    {"SQL_FROM_DBIMPORT", nullptr},
    {"W1", nullptr},
    {"W2", nullptr},
    {"SINGLELEVEL", "no"},
    {"LKNOTIFY", "yes"},
    {"LOCKDOWN", "no"},
    {"NODEFDAC", "no"},
    {"PLOAD_LO_PATH", nullptr},
    {"DVZ_AUTOFREE", nullptr},
    {"DVZ_DEFERRED_PREPARE", nullptr},
    {"DVZ_FREE_FD", nullptr},
    {"BLANK_STRINGS_NOT_NULL", nullptr},
    {"DHL_RDEFMTDATE", nullptr},
    {"OPT_GOAL", nullptr},
    {"STMT_CACHE", nullptr},
    {"STMT_CACHE_DEBUG", nullptr},
    {"DEFAULT_ATTACH", nullptr},
    {"TRACECUDRARG", nullptr},
    {"FORCE_DB_DROP", nullptr},
    {"DC_SESSION_MAX", nullptr},
    {"DVZ_DEF_TABLE_LOCKMODE", nullptr},
    {"DVZ_IMPLICIT_TRANSACTION", nullptr},
    {nullptr, nullptr},
};

const envdef_t *Dvz_UDVars = nullptr;

evar_t *Dvz_EVars = nullptr;
int Num_EVars = 0;
evar_t *Dvz_SVars = nullptr;
int Num_SVars = 0;

}  // extern "C"

namespace {

/* The locale variables that the locale environment keeps copies of. */
struct locale_copy {
  const char *name;
  gls_var_index index;
};
constexpr locale_copy locale_copies[] = {
    {"CLIENT_LOCALE", gls_var_client_locale},
    {"DB_LOCALE", gls_var_db_locale},
    {"DBNLS", gls_var_dbnls},
    {"DBLANG", gls_var_dblang},
    {"LC_CTYPE", gls_var_lc_ctype},
    {"LC_COLLATE", gls_var_lc_collate},
    {"LC_NUMERIC", gls_var_lc_numeric},
    {"LC_MONETARY", gls_var_lc_monetary},
    {"DBMONEY", gls_var_dbmoney},
    {"LC_TIME", gls_var_lc_time},
    {"DBTIME", gls_var_dbtime},
    {"DBDATE", gls_var_dbdate},
    {"GL_DATE", gls_var_gl_date},
    {"GL_DATETIME", gls_var_gl_datetime},
};

/* A process value converted from the OS code set to the client's. Kept
** until gFreeEVars so that the text handed out stays valid; a later
** look-up of the same name and value reuses it. */
struct converted_value {
  converted_value *next;
  std::string name;
  std::string source;
  char *text;
};
converted_value *converted_values = nullptr;

/* An open-addressed index of the variable table by name, so that a
** look-up (made at every describe, among others) hashes the name once
** instead of comparing it with each row. Built on the first look-up after
** the table changes; a table too large for it is searched row by row. */
constexpr size_t index_slots = 1024;
constexpr int index_max_rows = static_cast<int>(index_slots / 2);
struct row_index {
  const evar_t *table = nullptr;
  int count = -1;
  std::array<int16_t, index_slots> slots {};
};
row_index name_index;

/* FNV-1a of a NUL-terminated name. */
size_t name_hash(const char *name) {
  uint32_t h = 2166136261u;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); *p != 0; ++p)
    h = (h ^ *p) * 16777619u;
  return h;
}

/* Marks the index stale; every change to the rows calls it. */
void drop_index() {
  name_index.table = nullptr;
  name_index.count = -1;
}

/* Indexes the rows of Dvz_EVars; the first row of a name wins, as in
** search_evar. */
void build_index() {
  name_index.slots.fill(-1);
  for (int i = 0; i < Num_EVars; ++i) {
    size_t slot = name_hash(Dvz_EVars[i].name) & (index_slots - 1);
    while (name_index.slots[slot] >= 0 &&
           strcmp(Dvz_EVars[name_index.slots[slot]].name, Dvz_EVars[i].name) != 0)
      slot = (slot + 1) & (index_slots - 1);
    if (name_index.slots[slot] < 0) name_index.slots[slot] = static_cast<int16_t>(i);
  }
  name_index.table = Dvz_EVars;
  name_index.count = Num_EVars;
}

/* search_evar over Dvz_EVars through the index: the row of name with its
** cursor reset, or NULL. */
evar_t *indexed_row(const char *name) {
  if (name == nullptr || Dvz_EVars == nullptr) return nullptr;
  if (Num_EVars > index_max_rows) return search_evar(name, Dvz_EVars, Num_EVars);
  if (name_index.table != Dvz_EVars || name_index.count != Num_EVars) build_index();
  for (size_t slot = name_hash(name) & (index_slots - 1); name_index.slots[slot] >= 0;
       slot = (slot + 1) & (index_slots - 1)) {
    evar_t *row = &Dvz_EVars[name_index.slots[slot]];
    if (strcmp(row->name, name) == 0) {
      row->cursor = row->current;
      return row;
    }
  }
  return nullptr;
}

/* Pushes a copy of value (NULL: none) onto row's stack; 0 or -2. */
int push_value(evar_t *row, const char *value) {
  envelem_t *element = nullptr;
  if (cr_envelem(&element, value) != 0) return -2;
  element->prev = row->current;
  row->current = element;
  row->cursor = element;
  return 0;
}

/* Appends the rows of defs (up to its end row) to the table, each with
** its default pushed; 0 or -2 (the table keeps the rows built so far). */
int append_rows(const envdef_t *defs) {
  int count = 0;
  while (defs[count].name != nullptr)
    ++count;
  if (count == 0) return 0;
  drop_index();
  void *grown = realloc(Dvz_EVars, sizeof(evar_t) * static_cast<size_t>(Num_EVars + count));
  if (grown == nullptr) return -2;
  Dvz_EVars = static_cast<evar_t *>(grown);
  for (int i = 0; i < count; ++i) {
    evar_t *row = &Dvz_EVars[Num_EVars];
    *row = evar_t {defs[i].name, nullptr, nullptr};
    ++Num_EVars;
    if (push_value(row, defs[i].defval) != 0) return -2;
  }
  return 0;
}

/* The locale environment's converter from the OS code set to the client's. */
gl_cv_desc *os_to_client_converter() {
  gls_env *env = CheckGlsEnv();
  return env != nullptr && env->state != nullptr ? env->state->cv_os_client : nullptr;
}

/* The process value p of name as the client sees it: p itself, or its
** conversion when it has bytes above 0x7F and a converter exists (p again
** when the conversion fails). */
char *client_form(const char *name, char *p) {
  gl_cv_desc *cv = os_to_client_converter();
  if (cv == nullptr || is8bitstr(p) == 0) return p;
  for (converted_value *c = converted_values; c != nullptr; c = c->next)
    if (c->name == name && c->source == p) return c->text;
  char *text = nullptr;
  if (gcv_malloc(cv, p, nullptr, &text) < 0 || text == nullptr) return p;
  converted_values = new converted_value {converted_values, name, p, text};
  return text;
}

/* Frees the rows and their values; the table is empty afterwards. */
void release_rows() {
  drop_index();
  for (int i = 0; i < Num_EVars; ++i) {
    envelem_t *element = Dvz_EVars[i].current;
    while (element != nullptr) {
      envelem_t *prev = element->prev;
      free(element);
      element = prev;
    }
  }
  free(Dvz_EVars);
  Dvz_EVars = nullptr;
  Num_EVars = 0;
}

/* Builds the table unless it exists. */
void ensure_table() {
  if (Dvz_EVars == nullptr) greadenv();
}

/* Reads one rc file into the table; its result. */
int read_rc(const std::string &path, namelist_t *ignore, int *flags) {
  int lines = 0;
  return ldcffile(path.c_str(), ignore, &lines, flags);
}

/* The rc files, then the NLS defaults; 0 or a negative error. */
int load_sources(namelist_t *ignore) {
  int flags = 0;
  const char *dir = getenv("DOVARIZADIR");
  int rc = read_rc(std::string(dir != nullptr ? dir : DVZ_DEFAULT_DOVARIZADIR) + "/etc/dovariza.rc",
                   ignore, &flags);
  if (rc != 0 && rc != -4) return -2;

  gerrno = 0;
  char *home = ggethomepath();
  /* No memory for the home path is a failure, not a missing home. */
  if (home == nullptr && gerrno == -2) return -2;
  rc = read_rc(home != nullptr ? std::string(home) + "/.dovariza" : std::string(".dovariza"),
               ignore, &flags);
  free(home);
  /* An unknown name on an rc file's last line is no failure. */
  if (rc == -4) rc = 0;
  if (rc != 0) return rc;

  if (dvz_env::nls_mode_value(getenv("DBNLS"))) flags |= env_flag_dbnls;
  return (flags & env_flag_dbnls) != 0 ? dvz_env::load_nls_defaults(flags) : 0;
}

/* The locale copy named name in any case, or NULL. */
const locale_copy *locale_copy_of(const char *name) {
  if (name == nullptr) return nullptr;
  for (const locale_copy &c : locale_copies) {
    /* The first letters settle most names without a call. */
    if ((c.name[0] | 0x20) == (name[0] | 0x20) && strcasecmp(c.name, name) == 0) return &c;
  }
  return nullptr;
}

/* NULL with gerrno set to error. */
char *no_value(int error) {
  gerrno = error;
  return nullptr;
}

}  // namespace

namespace dvz_env {

evar_t *find_row(const char *name) {
  evar_t *row = Num_SVars > 0 ? search_evar(name, Dvz_SVars, Num_SVars) : nullptr;
  return row != nullptr ? row : indexed_row(name);
}

const char *table_value(const char *name) {
  evar_t *row = find_row(name);
  return row != nullptr && row->current != nullptr ? row->current->value : nullptr;
}

void release_table() {
  release_rows();
  while (converted_values != nullptr) {
    converted_value *next = converted_values->next;
    free(converted_values->text);
    delete converted_values;
    converted_values = next;
  }
}

}  // namespace dvz_env

namespace {

/* The table's answer for name: its current value (NULL: none), or NULL
** with gerrno -5 for a name the table lacks. */
char *table_answer(const char *name) {
  evar_t *row = dvz_env::find_row(name);
  if (row == nullptr) return no_value(-5);
  return row->current != nullptr ? row->current->value : nullptr;
}

}  // namespace

extern "C" {

int cr_envelem(envelem_t **element, const char *value) {
  size_t length = value != nullptr ? strlen(value) + 1 : 0;
  auto *e = static_cast<envelem_t *>(malloc(sizeof(envelem_t) + length));
  if (e == nullptr) return -2;
  e->prev = nullptr;
  e->value = nullptr;
  if (value != nullptr) {
    memcpy(e->text, value, length);
    e->value = e->text;
  }
  *element = e;
  return 0;
}

evar_t *search_evar(const char *name, evar_t *table, int count) {
  if (name == nullptr || table == nullptr) return nullptr;
  for (int i = 0; i < count; ++i) {
    if (strcmp(table[i].name, name) == 0) {
      table[i].cursor = table[i].current;
      return &table[i];
    }
  }
  return nullptr;
}

int ginsenv(const char *name, const char *value) {
  if (name == nullptr) return -7;
  evar_t *row = dvz_env::find_row(name);
  if (row == nullptr) return -5;
  return push_value(row, value);
}

int lddefenv(void) {
  release_rows();
  return append_rows(Dvz_DVals);
}

int ldudefenv(void) { return Dvz_UDVars != nullptr ? append_rows(Dvz_UDVars) : 0; }

void gsetudenv(const envdef_t *table) { Dvz_UDVars = table; }

int gdefenv(const char *name, const char **defval) {
  if (name == nullptr) return -1;
  for (const envdef_t *row = Dvz_DVals; row->name != nullptr; ++row) {
    if (strcmp(row->name, name) == 0) {
      if (defval != nullptr) *defval = row->defval;
      return 0;
    }
  }
  return -1;
}

int greadenv(void) {
  /* Creating the context may read the environment and so build the table:
  ** only then is it known whether the table exists. */
  CheckOsInit();
  if (ostcb == nullptr) return -2;
  if (Dvz_EVars != nullptr) return 0;
  namelist_t *ignore = _ginitnamelist();
  if (ignore == nullptr) return -2;
  int rc = lddefenv();
  if (rc == 0) rc = ldudefenv();
  if (rc == 0) rc = ignoreenv(ignore);
  if (rc == 0) rc = load_sources(ignore);
  _gfreenamelist(ignore);
  return rc;
}

char *ggetglsenv(const char *name) {
  const locale_copy *c = locale_copy_of(name);
  if (c == nullptr) return nullptr;
  gls_env *env = CheckGlsEnv();
  return env != nullptr && env->state != nullptr ? env->state->vars[c->index] : nullptr;
}

char *ggetenv2(const char *name) {
  if (name == nullptr) return no_value(-7);
  ensure_table();
  gerrno = 0;
  if (char *p = getenv(name); p != nullptr) return client_form(name, p);
  return table_answer(name);
}

char *ggetenv(const char *name) {
  if (name == nullptr) return no_value(-7);
  if (char *p = getenv(name); p != nullptr) return p;
  /* Building the table or the locale environment may put variables in
  ** the process environment: then ggetenv2 searches it again. Otherwise it
  ** is unchanged, and only the table is left to search. */
  if (locale_copy_of(name) != nullptr) {
    if (char *p = ggetglsenv(name); p != nullptr) return p;
    return ggetenv2(name);
  }
  if (Dvz_EVars == nullptr) return ggetenv2(name);
  gerrno = 0;
  return table_answer(name);
}

char *getsesenv(const char *name) { return ggetenv(name); }

char *ggetnenv(const char *name) {
  if (name == nullptr) return no_value(-7);
  ensure_table();
  gerrno = 0;
  evar_t *row = dvz_env::find_row(name);
  if (row == nullptr) return no_value(-5);
  if (row->cursor == nullptr || row->cursor->prev == nullptr) return no_value(-3);
  row->cursor = row->cursor->prev;
  return row->cursor->value;
}

}  // extern "C"
