/*
** Environment lists and name lists (os_env.h). The runtime sends two
** lists of variables to the server: at connect DBPATH, the connect
** variables and the locale ones (_oscpevlist), and later the session
** variables (_oscsevlist). Values are read with ggetenv and converted to
** the database's code set when the locale environment has a
** client-to-database converter; names point at the static lists below.
**
** Also here: growable lists of owned names (the rc reader's ignore list),
** and _os_clr_env, which sets the plain defaults of four variables.
*/
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "os_context.h"
#include "os_conv.h"
#include "os_env.h"
#include "os_glsenv.h"

extern "C" {

const char *const Dvz_MVarList[] = {
    "DBDATE",        "DBMONEY",           "DBALSBC",     "DBCONNECT",      "DBCSCONV",
    "CLIENT_LOCALE", "DOVARIZASTACKSIZE", "DBSPACETEMP", "GL_DATE",        "COLLCHAR",
    "SLABEL",        "SINGLELEVEL",       "LKNOTIFY",    "LOCKDOWN",       "NODEFDAC",
    "DELIMIDENT",    "SKINHIBIT",         "SKALL",       "SKSHOW",         "RASHELP",
    "STMT_CACHE",    "STMT_CACHE_DEBUG",  "DVZ_LONGID",  "DVZ_PAD_VARCHAR"};
const int Num_MVarList = static_cast<int>(std::size(Dvz_MVarList));

const char *const Dvz_LVarList[] = {"DB_LOCALE",  "DBNLS",       "LC_CTYPE", "LC_COLLATE",
                                    "LC_NUMERIC", "LC_MONETARY", "LC_TIME"};
const int Num_LVarList = static_cast<int>(std::size(Dvz_LVarList));

const char *const Dvz_SVarList[] = {"DBTIME",
                                    "DBLANG",
                                    "DBMAXPROC",
                                    "DBTEMP",
                                    "DEBUG",
                                    "DUMPCORE",
                                    "DUMPDIR",
                                    "DUMPMEM",
                                    "DUMPSHMEM",
                                    "GCORE",
                                    "DVZ_NOZEROMDY",
                                    "NOSHMSG",
                                    "PSORT_DBTEMP",
                                    "PSORT_NPROCS",
                                    "SHELL",
                                    "TZ",
                                    "W1",
                                    "W2",
                                    "NOSORTINDEX",
                                    "SORTINDEX",
                                    "DBUPSPACE",
                                    "SUBQCACHESZ",
                                    "NO_KEYFIRST",
                                    "NO_KEYSTART",
                                    "NO_PREDPROMOTE",
                                    "NO_SUBQF",
                                    "DVZ_FLAT_UCSQ",
                                    "ANSIOWNER",
                                    "UVIEW_CRTTMP",
                                    "PDQPRIORITY",
                                    "DVZ_DIRECTIVES",
                                    "DVZ_DW_OPT",
                                    "DVZ_NO_OROPT",
                                    "DVZ_UPDDESC",
                                    "OPTCOMPIND",
                                    "OPTOFC",
                                    "DOVARIZACONRETRY",
                                    "DOVARIZACONTIME",
                                    "DOVARIZAOPCACHE",
                                    "GL_DATETIME",
                                    "GL_MATCHES",
                                    "SQLSTATS",
                                    "DBCENTURY",
                                    "PLCONFIG",
                                    "DBANSIWARN",
                                    "PATH",
                                    "CR_LOCKBLOB",
                                    "LOCKSSFU",
                                    "LIGHT_SCANS",
                                    "SQL_FROM_DBIMPORT",
                                    "PLOAD_LO_PATH",
                                    "DBTODAY",
                                    "NODEFDAC",
                                    "OPT_GOAL",
                                    "DEFAULT_ATTACH",
                                    "USE_DTENV",
                                    "TRACECUDRARG",
                                    "FORCE_DB_DROP",
                                    "DC_SESSION_MAX",
                                    "DVZ_DEF_TABLE_LOCKMODE",
                                    "DVZ_IMPLICIT_TRANSACTION",
                                    "FET_BUF_SIZE"};
const int Num_SVarList = static_cast<int>(std::size(Dvz_SVarList));

}  // extern "C"

namespace {

/* Slots of the two lists: the connect list holds at most DBPATH, the
** connect variables and the locale ones; the secondary one every session
** variable and a spare NULL. */
constexpr int connect_slots = 32;
constexpr int secondary_slots = 63;
static_assert(1 + std::size(Dvz_MVarList) + std::size(Dvz_LVarList) <= connect_slots);
static_assert(std::size(Dvz_SVarList) < secondary_slots);

/* Slots of a new name list, and its growth. */
constexpr int namelist_step = 16;

/* The locale environment's client-to-database converter, NULL when the
** value is only copied. */
gl_cv_desc *client_to_db_converter() {
  gls_env *env = CheckGlsEnv();
  return env != nullptr && env->state != nullptr ? env->state->cv_client_db : nullptr;
}

/* A new copy of value in the database's code set in *out; 0 or -1. */
int db_form(const char *value, char **out) {
  *out = nullptr;
  if (gcv_malloc(client_to_db_converter(), value, nullptr, out) < 0 || *out == nullptr) {
    free(*out);
    *out = nullptr;
    return -1;
  }
  return 0;
}

/* Makes the list's arrays of slots zeroed pointers; 0 or -1 (none made). */
int open_list(evlist_t *list, int slots) {
  *list = evlist_t {0, nullptr, nullptr};
  list->names = static_cast<char **>(calloc(static_cast<size_t>(slots), sizeof(char *)));
  list->values = static_cast<char **>(calloc(static_cast<size_t>(slots), sizeof(char *)));
  if (list->names != nullptr && list->values != nullptr) return 0;
  _osfreevlist(list);
  return -1;
}

/* The connect list's entries after DBPATH; 0 or -1. */
int add_connect_variables(evlist_t *list) {
  if (setevlist(list->names, list->values, Dvz_MVarList, Num_MVarList, &list->count) != 0)
    return -1;
  gls_env *env = CheckGlsEnv();
  if (env == nullptr || env->state == nullptr || env->state->mode != 1) return 0;
  if (DBNLSset() != 0)
    return setevlist(list->names, list->values, Dvz_LVarList, Num_LVarList, &list->count);
  const char *db_locale = ggetenv(Dvz_LVarList[0]);
  if (db_locale == nullptr) return 0;
  return setevloc(list->names, list->values, &list->count, db_locale, 0);
}

}  // namespace

extern "C" {

int setevlist(char **names, char **values, const char *const *vars, int nvars, int *count) {
  for (int i = 0; i < nvars; ++i) {
    const char *value = ggetenv(vars[i]);
    if (value == nullptr) continue;
    if (db_form(value, &values[*count]) != 0) return -1;
    /* The names are the static texts of the lists, never freed. */
    names[*count] = const_cast<char *>(vars[i]);
    ++*count;
  }
  return 0;
}

int setevloc(char **names, char **values, int *count, const char *value, int index) {
  if (value == nullptr || index < 0 || index >= Num_LVarList) return -1;
  char *copy = strdup(value);
  if (copy == nullptr) return -1;
  names[*count] = const_cast<char *>(Dvz_LVarList[index]);
  values[*count] = copy;
  ++*count;
  return 0;
}

int _oscpevlist(evlist_t *list, const char *dbpath) {
  if (list == nullptr) return -1;
  if (dbpath == nullptr || open_list(list, connect_slots) != 0) {
    *list = evlist_t {0, nullptr, nullptr};
    return -1;
  }
  if (db_form(dbpath, &list->values[0]) == 0) {
    list->names[0] = const_cast<char *>("DBPATH");
    list->count = 1;
    if (add_connect_variables(list) == 0) return 0;
  }
  _osfreevlist(list);
  return -1;
}

int _oscsevlist(evlist_t *list) {
  if (list == nullptr || open_list(list, secondary_slots) != 0) return -1;
  if (setevlist(list->names, list->values, Dvz_SVarList, Num_SVarList, &list->count) == 0) return 0;
  _osfreevlist(list);
  return -1;
}

void _osfreevlist(evlist_t *list) {
  if (list == nullptr) return;
  if (list->values != nullptr)
    for (int i = 0; i < list->count; ++i)
      free(list->values[i]);
  free(list->values);
  free(list->names);
  *list = evlist_t {0, nullptr, nullptr};
}

int _os_clr_env(void) {
  struct plain_default {
    const char *name;
    const char *value;
  };
  static constexpr plain_default plain_defaults[] = {
      {"DBNLS", "0"}, {"DBMONEY", "$."}, {"DBDATE", "MDY4/"}, {"DBPATH", "."}};
  for (const plain_default &d : plain_defaults)
    if (gfeputenv(d.name, d.value) != 0) return -2;
  return 0;
}

namelist_t *_ginitnamelist(void) {
  auto *list = static_cast<namelist_t *>(malloc(sizeof(namelist_t)));
  if (list == nullptr) return nullptr;
  list->names = static_cast<char **>(malloc(sizeof(char *) * namelist_step));
  if (list->names == nullptr) {
    free(list);
    return nullptr;
  }
  list->count = 0;
  list->capacity = namelist_step;
  return list;
}

void _gfreenamelist(namelist_t *list) {
  if (list == nullptr) return;
  for (int i = 0; i < list->count; ++i)
    free(list->names[i]);
  free(list->names);
  free(list);
}

int _gaddnamelist(namelist_t *list, const char *name) {
  if (list == nullptr || name == nullptr) return -1;
  if (list->count == list->capacity) {
    size_t slots = static_cast<size_t>(list->capacity + namelist_step);
    void *grown = realloc(list->names, sizeof(char *) * slots);
    if (grown == nullptr) return -1;
    list->names = static_cast<char **>(grown);
    list->capacity += namelist_step;
  }
  char *copy = strdup(name);
  if (copy == nullptr) return -1;
  list->names[list->count] = copy;
  return list->count++;
}

int _gsrchnamelist(const namelist_t *list, const char *name) {
  if (list == nullptr || name == nullptr) return -1;
  for (int i = 0; i < list->count; ++i)
    if (strcmp(list->names[i], name) == 0) return i;
  return -1;
}

}  // extern "C"
