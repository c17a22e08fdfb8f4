/*
** Locale specifications of the client's initialisation: turning a
** specification into the form the locale library loads (a library locale
** file, or "os/" and the name for a locale of the operating system),
** extracting and building long specifications ("GL_CTYPE = ... ; ..."),
** the six category names of a state block, the category names read from
** the platform-style LC_* variables in NLS mode, the code-set aliases and
** the restore helpers.
**
** Called by the initialisation (glsenv.cpp). Calls the locale library's
** registry (file names and their pieces) and the environment.
**
** Category names are fixed fields of GLS_CATNAME_SIZE bytes: every text
** put there is cut to 36 bytes. A text taken from the environment is never
** written to: it may be the process environment itself.
*/
#include <cstdio>
#include <cstring>
#include <string_view>

#include "gl_locale.h"
#include "gl_registry.h"
#include "glsenv_internal.h"
#include "os_env.h"
#include "os_glsenv.h"

namespace {

/* Copies text into a category name, cut to 36 bytes. */
void put_name(char *name, const char *text) {
  const size_t n = strnlen(text, GLS_CATNAME_SIZE - 1);
  std::memmove(name, text, n);
  name[n] = '\0';
}

/* The library locale file of spec into fname (GL_LC_FSPEC_SIZE bytes). */
bool library_file(const char *spec, char *fname) {
  return gl_lc_spec2lc_fname(nullptr, spec, fname, nullptr, "") == 0;
}

/* The key of category index c ("GL_CTYPE" ...). */
const char *key_of(int c) { return category_params[GL_CTYPE + c]; }

/* The code-set aliases and the locale name each stands for. */
struct alias {
  std::string_view name;
  const char *spec;
};
constexpr alias aliastab[] = {
    {"ascii", "en_US.8859-1"}, {"8859-1", "en_US.8859-1"}, {"gb", "zh_CN.gb"},
    {"gb2312", "zh_CN.gb"},    {"ksc1", "ko_KR.ksc"},      {"ksc", "ko_KR.ksc"},
    {"ks5601", "ko_KR.ksc"},   {"big5", "zh_TW.big5"},     {"sbig5", "zh_TW.sbig5"},
    {"ccdc", "zh_TW.ccdc"},    {"cccii", "zh_TW.cccii"},   {"jis208", "ja_JP.ujis"},
    {"ujis", "ja_JP.ujis"},    {"sjis208", "ja_JP.sjis"},  {"sjis", "ja_JP.sjis"},
};

}  // namespace

extern "C" {

int spec2fname(const char *spec, char *out, int32_t *sources, int *second) {
  if (spec == nullptr || std::strlen(spec) > GLS_SPEC_MAX) return -1;
  out[0] = '\0';
  const bool first = *second == 0;
  char fname[GL_LC_FSPEC_SIZE];
  if (first && library_file(spec, fname)) {
    std::snprintf(out, GLS_FSPEC_SIZE, "%s", fname);
    for (int c = 0; c < gls_cat_count; ++c)
      sources[c] = 1;
    return 0;
  }
  if (std::strstr(spec, "GL_CTYPE") == nullptr) {
    prependos(spec, out);
    for (int c = 0; c < gls_cat_count; ++c)
      sources[c] = 0;
    *second = 1;
    return 0;
  }
  for (int c = 0; c < gls_cat_count; ++c) {
    sources[c] = 0;
    char value[GLS_CATNAME_SIZE];
    if (extrspec(spec, key_of(c), value) != 0) continue;
    if (first && library_file(value, fname)) {
      mk1loccat(out, key_of(c), fname);
      sources[c] = 1;
    } else {
      char os_form[GLS_CATNAME_SIZE + 3];
      prependos(value, os_form);
      mk1loccat(out, key_of(c), os_form);
      *second = 1;
    }
  }
  return 0;
}

int extrspec(const char *spec, const char *key, char *value) {
  const char *at = std::strstr(spec, key);
  if (at == nullptr) return -1;
  char read_key[257];
  return std::sscanf(at, "%256s = %36s", read_key, value) == 2 ? 0 : -1;
}

void prependos(const char *spec, char *out) {
  const size_t n = std::strlen(spec);
  std::memmove(out + 3, spec, n + 1);
  std::memcpy(out, "os/", 3);
}

void mk1loccat(char *out, const char *key, const char *value) {
  std::strcat(out, key);
  std::strcat(out, " = ");
  std::strcat(out, value);
  std::strcat(out, " ; ");
}

void lcspec2longsp(const char *spec, char names[gls_cat_count][GLS_CATNAME_SIZE]) {
  char cut[GLS_CATNAME_SIZE];
  put_name(cut, spec);
  for (int c = 0; c < gls_cat_count; ++c)
    std::memcpy(names[c], cut, sizeof cut);
}

int togensp(const char *spec, char *out) {
  char source[GLS_CATNAME_SIZE];
  put_name(source, spec);
  char fname[GL_LC_FSPEC_SIZE];
  char normal[GLS_CATNAME_SIZE];
  if (library_file(source, fname) && chglcfile2sp(fname, normal) == 0)
    put_name(out, normal);
  else
    put_name(out, source);
  return 0;
}

int chglcfile2sp(const char *fname, char *out) {
  char lang_terr[GL_LC_LANGTERR_SIZE];
  char codeset[GL_LC_CSTEXT_SIZE];
  char modifier[GL_LC_MODIFIER_SIZE];
  char spec[GL_LC_FNAME_SIZE];
  if (spec2pieces(fname, lang_terr, codeset, modifier) == 0 &&
      gl_lc_pieces2lc_spec(nullptr, lang_terr, codeset, modifier, spec) == 0) {
    put_name(out, spec);
    return 0;
  }
  const char *slash = std::strchr(fname, '/');
  if (slash == nullptr) return -1;
  put_name(out, slash + 1);
  return 0;
}

int spec2pieces(const char *fname, char *lang_terr, char *codeset, char *modifier) {
  return gl_lc_fname2lc_pieces(nullptr, fname, lang_terr, codeset, modifier);
}

int get_nlscat(const char *variable, char *name, int mode, int *missing, char **copy) {
  const char *value = mode == 1 ? getsesenv(variable) : ggetenv(variable);
  if (value == nullptr) {
    ++*missing;
    put_name(name, "0");
    return 0;
  }
  if (!oslib_glsenv::replace_copy(copy, value)) return -2;
  put_name(name, *copy);
  return 0;
}

int get_nlslocsp(new_gls_env *state, int mode) {
  struct from {
    int category;
    const char *variable;
    int var;
  };
  static constexpr from order[] = {
      {gls_cat_collate, "LC_COLLATE", gls_var_lc_collate},
      {gls_cat_ctype, "LC_CTYPE", gls_var_lc_ctype},
      {gls_cat_numeric, "LC_NUMERIC", gls_var_lc_numeric},
      {gls_cat_monetary, "LC_MONETARY", gls_var_lc_monetary},
      {gls_cat_time, "LC_TIME", gls_var_lc_time},
  };
  int missing = 0;
  for (const from &f : order) {
    if (int rc = get_nlscat(f.variable, state->category_names[f.category], mode, &missing,
                            &state->vars[f.var]);
        rc != 0)
      return rc;
  }
  put_name(state->category_names[gls_cat_messages], state->category_names[gls_cat_ctype]);
  return missing != 0 ? gls_err_nls_missing : 0;
}

const char *getalsloc(const char *name) {
  if (name == nullptr) return nullptr;
  for (const alias &a : aliastab)
    if (a.name == name) return a.spec;
  return nullptr;
}

int mklocspec(const char *client, const char *db, char *out) {
  if (client == nullptr) return -1;
  out[0] = '\0';
  char client_name[GLS_CATNAME_SIZE];
  char db_name[GLS_CATNAME_SIZE];
  put_name(client_name, client);
  if (db != nullptr) put_name(db_name, db);
  for (int c = 0; c < gls_cat_count; ++c)
    mk1loccat(out, key_of(c), c == gls_cat_collate && db != nullptr ? db_name : client_name);
  return 0;
}

void filongspec(new_gls_env *state, const char *spec) {
  for (auto &name : state->category_names)
    if (name[0] == '0') put_name(name, spec);
}

int restoreploc(void) {
  gls_env *env = CheckGlsEnv();
  new_gls_env *state = env->state;
  if (state->saved_locale == nullptr) return -1;
  env->locale = state->saved_locale;
  state->client_locale = state->saved_locale;
  state->cv_client_db = state->saved_cv[0];
  state->cv_db_client = state->saved_cv[1];
  return 0;
}

int restorelocsp(void) {
  gls_env *env = CheckGlsEnv();
  if (env->locale == nullptr) return -1;
  char *query = gl_setlocale_4(env->locale, GL_ALL, nullptr);
  if (query == nullptr) return -1;
  for (int c = 0; c < gls_cat_count; ++c) {
    char value[GLS_CATNAME_SIZE];
    char *name = env->state->category_names[c];
    if (extrspec(query, key_of(c), value) != 0) continue;
    if (chglcfile2sp(value, name) != 0) put_name(name, value);
  }
  gl_destroystring(query);
  return 0;
}

int restorelang(void) {
  if (restoreploc() != 0) return -1;
  return restorelocsp();
}

}  // extern "C"
