/*
** glsenv_list.cpp: the per-connection locale environments (os_glsenvs.h).
**
** A connect reads the fifteen locale variables into a save area, reuses
** the first listed environment whose copies match them (CompareLocale) or
** creates, initialises and appends a new one. Connections opened under
** the same variables thus share locale records, converters, caches and
** conventions. The list only grows while connections are made; a create
** that fails leaves no trace: nothing listed, counted, loaded or kept.
**
** Calls down to the client locale initialisation (initgls, SetGlsEnv,
** glsenv_count in os_glsenv.h), the conventions (rmoninit) and the locale
** library's unload functions. The runtime's connect calls
** dvz_connect_glsenv.
*/
#include <array>
#include <cstdlib>
#include <cstring>

#include "gl_locale.h"
#include "gl_registry.h"
#include "os_context.h"
#include "os_env.h"
#include "os_errors.h"
#include "os_glsenvs.h"
#include "os_lconv.h"
#include "os_stored.h"

extern "C" {
glsenv_save glsenv_savearea_global;
glsenv_save *glsenv_savearea = &glsenv_savearea_global;
glsenv_node *GlsEnv_List = nullptr;
}

namespace {

/* The locale variables, in the order of gls_var_index. */
constexpr std::array<const char *, gls_var_count> var_names = {
    "CLIENT_LOCALE", "DB_LOCALE",  "DBNLS",      "DBLANG",      "LANG",
    "LC_CTYPE",      "LC_COLLATE", "LC_NUMERIC", "LC_MONETARY", "LC_TIME",
    "DBTIME",        "DBMONEY",    "DBDATE",     "GL_DATE",     "GL_DATETIME"};

/* The copies the static environment releases with its locales. */
constexpr std::array<int, 8> static_released_vars = {
    gls_var_client_locale, gls_var_db_locale,   gls_var_lc_ctype, gls_var_lc_collate,
    gls_var_lc_numeric,    gls_var_lc_monetary, gls_var_lc_time,  gls_var_dbtime};

int32_t bit(int var) { return int32_t {1} << var; }

/* Unloads what an initialisation loaded into env (locales, converters,
** name caches, date format) and clears its initialised bits. */
void release_loaded(gls_env &env) {
  new_gls_env *state = env.state;
  if (state == nullptr) return;
  free_locale_string(&state->abmon_cache);
  free_locale_string(&state->mon_cache);
  free_locale_string(&state->era2_cache);
  free_locale_string(&state->era_cache);
  free(state->date_format);
  state->date_format = nullptr;
  state->date_format_present = 0;

  /* The client locale is normally env.locale, the database locale often
  ** too: unload each record once. */
  gl_locale *locales[3] = {env.locale, state->client_locale, state->db_locale};
  for (int i = 0; i < 3; ++i) {
    bool seen = locales[i] == nullptr;
    for (int j = 0; j < i && !seen; ++j)
      seen = locales[j] == locales[i];
    if (!seen) gl_lc_unload(locales[i]);
  }
  env.locale = nullptr;
  state->client_locale = nullptr;
  state->db_locale = nullptr;

  for (gl_cv_desc **cv :
       {&state->cv_client_db, &state->cv_db_client, &state->cv_client_os, &state->cv_os_client}) {
    if (*cv != nullptr) gl_cv_unload(*cv);
    *cv = nullptr;
  }
  state->initialised = 0;
}

void free_dtime_formats(gls_env &env) {
  for (auto &row : env.dtime_formats)
    for (char *&format : row) {
      free(format);
      format = nullptr;
    }
}

/* Frees a node made by CreateGlsEnv with everything it owns. */
void free_node(glsenv_node *node) {
  gls_env &env = node->record;
  if (env.state != nullptr) {
    release_loaded(env);
    for (char *&copy : env.state->vars) {
      free(copy);
      copy = nullptr;
    }
    free(env.state->lconv);
    free(env.state);
  }
  free_dtime_formats(env);
  free(node);
}

}  // namespace

extern "C" {

glsenv_save *CreateGlsEnvLocale(void) {
  auto *save = static_cast<glsenv_save *>(calloc(1, sizeof(glsenv_save)));
  if (save == nullptr) return nullptr;
  for (int i = 0; i < gls_var_count; ++i)
    save->vars[i] = ggetenv2(var_names[i]);
  return save;
}

int CompareLocaleField(const char *copy, int32_t is_default, const char *value) {
  if (copy == nullptr) return value == nullptr ? 0 : -1;
  if (value == nullptr) return is_default != 0 ? 0 : -1;
  return stcmpri(copy, value) == 0 ? 0 : -1;
}

int CompareLocale(const gls_env *env, const glsenv_save *save) {
  if (save == nullptr) return 0;
  if (env == nullptr || env->state == nullptr) return -1;
  const new_gls_env &state = *env->state;
  auto differs = [&](int var) {
    return CompareLocaleField(state.vars[var], state.default_bits & bit(var), save->vars[var]) != 0;
  };
  for (int var : {gls_var_client_locale, gls_var_db_locale, gls_var_dbnls})
    if (differs(var)) return -1;
  /* The language variables count only when both sides run with DBNLS. */
  if (state.vars[gls_var_dbnls] != nullptr && save->vars[gls_var_dbnls] != nullptr)
    for (int var = gls_var_dblang; var <= gls_var_lc_time; ++var)
      if (differs(var)) return -1;
  for (int var : {gls_var_dbmoney, gls_var_dbtime, gls_var_dbdate})
    if (differs(var)) return -1;
  /* DBDATE on either side overrides GL_DATE. */
  if (state.vars[gls_var_dbdate] == nullptr && save->vars[gls_var_dbdate] == nullptr &&
      differs(gls_var_gl_date))
    return -1;
  return differs(gls_var_gl_datetime) ? -1 : 0;
}

int CheckExistingGlsEnv(const glsenv_save *save, gls_env **env) {
  for (glsenv_node *node = GlsEnv_List; node != nullptr; node = node->next)
    if (CompareLocale(node->env, save) == 0) {
      *env = node->env;
      return 0;
    }
  *env = nullptr;
  return -1;
}

int InitGlsEnv(gls_env *env) {
  gls_env *previous = CheckGlsEnv();
  SetGlsEnv(env);
  const int result = initgls(env->state->mode);
  if (result == 0) {
    rmoninit(0);
    return 0;
  }
  SetGlsEnv(previous);
  if (previous->state != nullptr && previous->state->vars[gls_var_client_locale] == nullptr) {
    char *copy = strdup(GLS_DEFAULT_CLIENT_LOCALE);
    if (copy == nullptr) return -2;
    previous->state->vars[gls_var_client_locale] = copy;
    previous->state->default_bits |= bit(gls_var_client_locale);
  }
  return result;
}

int CreateGlsEnv(const glsenv_save *save, gls_env **env, int initialise) {
  /* Count the static environment first, so that the one made here is
  ** never the only one counted and SetGlsEnv can switch back from it. */
  CheckGlsEnv();
  auto *node = static_cast<glsenv_node *>(calloc(1, sizeof(glsenv_node)));
  auto *state = static_cast<new_gls_env *>(calloc(1, sizeof(new_gls_env)));
  auto *lconv = static_cast<gls_lconv *>(calloc(1, sizeof(gls_lconv)));
  if (node == nullptr || state == nullptr || lconv == nullptr) {
    free(node);
    free(state);
    free(lconv);
    return os_err_no_memory;
  }
  node->env = &node->record;
  node->record.state = state;
  state->lconv = lconv;
  for (int i = 0; i < gls_var_count; ++i) {
    const char *value =
        save != nullptr && save->vars[i] != nullptr ? save->vars[i] : ggetenv2(var_names[i]);
    if (value == nullptr) continue;
    state->vars[i] = strdup(value);
    if (state->vars[i] == nullptr) {
      free_node(node);
      return os_err_no_memory;
    }
  }
  state->mode = 1;
  ++glsenv_count;

  if (initialise != 0) {
    const int result = InitGlsEnv(node->env);
    if ((result & 0xFFFF) != 0) {
      free_node(node);
      --glsenv_count;
      return result;
    }
  }

  glsenv_node **tail = &GlsEnv_List;
  while (*tail != nullptr)
    tail = &(*tail)->next;
  *tail = node;
  *env = node->env;
  return 0;
}

int freegls(void) {
  gls_env *env = CheckGlsEnv();
  release_loaded(*env);
  /* An empty registry name cannot be opened: the built-in table is put in
  ** force. */
  int scratch = 0;
  gl_cache_registry(reinterpret_cast<gl_locale *>(&scratch), "");
  return 0;
}

int FreeAllGlsEnv(void) {
  int scratch = 0;
  while (GlsEnv_List != nullptr) {
    glsenv_node *node = GlsEnv_List;
    GlsEnv_List = node->next;
    if (gls_env_global == node->env) SetGlsEnv(gls_static_env());
    free_node(node);
    --glsenv_count;
  }
  gls_env *fixed = gls_static_env();
  SetGlsEnv(fixed);
  new_gls_env *state = fixed->state;
  if (state != nullptr && state->initialised != 0) {
    release_loaded(*fixed);
    for (int var : static_released_vars) {
      free(state->vars[var]);
      state->vars[var] = nullptr;
    }
    state->in_progress = 0;
  }
  gl_cache_registry(reinterpret_cast<gl_locale *>(&scratch), "");
  return 0;
}

int dvz_connect_glsenv(gls_env **env) {
  glsenv_save *fresh = nullptr;
  glsenv_save *save = glsenv_savearea;
  if (save == nullptr || save->in_use == 0) {
    fresh = CreateGlsEnvLocale();
    if (fresh == nullptr) return os_err_no_memory;
    save = fresh;
  }
  gls_env *found = nullptr;
  int result =
      CheckExistingGlsEnv(save, &found) == 0 ? InitGlsEnv(found) : CreateGlsEnv(save, &found, 1);
  free(fresh);
  /* The low 16 bits tell failure; the error is the whole number. */
  if ((result & 0xFFFF) != 0) return result;
  rldctype();
  *env = found;
  return 0;
}

}  // extern "C"
