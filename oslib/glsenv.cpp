/*
** The client's locale environments: the static environment and its state
** block, the choice of the current environment, and the initialisation of
** an environment as the client's (initgls, init_fe): which locale
** CLIENT_LOCALE, DBNLS and the LC_* variables select, which database
** locale and converters DB_LOCALE asks for, and then the date formats
** (glsenv_dates.cpp). Locale-name helpers are in glsenv_specs.cpp.
**
** Called by the OS context (CheckOsInit runs chkglsinit), every
** locale-dependent routine of the client library (chkglsinit first) and
** the per-connection environments (initgls). Calls the locale library's
** public API, the environment (ggetenv, which may come back through the
** OS context: the in-progress flag ends that chain) and the host callbacks
** (setup_glext_funcs).
**
** Every failure leaves its specific error in glserror before returning,
** so initgls never reports 0 after a failure.
*/
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "gl_chars.h"
#include "gl_errors.h"
#include "gl_locale.h"
#include "gl_registry.h"
#include "glsenv_internal.h"
#include "os_context.h"
#include "os_env.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "os_glsenvs.h"
#include "os_lconv.h"

using oslib_glsenv::replace_copy;

namespace {

new_gls_env static_state = [] {
  new_gls_env state {};
  state.mode = 1;
  state.lconv = &g_lconv_default;
  return state;
}();

gls_env static_env = {nullptr, &static_state, {}};

/* Fails with error stored in glserror: -1. */
int fail(int error) {
  set_glserror(error);
  return -1;
}

/* The code set of spec is known to the registry. */
bool codeset_known(const char *spec) {
  return gl_lc_spec2cs_num(nullptr, spec, nullptr) != GL_CS_NONE;
}

/* Loads the pair of converters between spec and other_spec into *to and
** *from: 0, or the failed descriptor's error word (both left NULL). */
int load_pair(gl_cv_desc **to, gl_cv_desc **from, const char *spec, const char *other_spec) {
  *to = nullptr;
  *from = nullptr;
  int error = 0;
  if (get_csc_desc(to, spec, other_spec, &error) < 0 ||
      get_csc_desc(from, other_spec, spec, &error) < 0) {
    gl_cv_unload(*to);
    *to = nullptr;
    return error != 0 ? error : GL_EBADFILE;
  }
  return 0;
}

/* The character after "A" in "ABCDE" by the locale is "B". */
bool ascii_compatible(gl_locale *loc) {
  static const unsigned char probe[] = "ABCDE";
  const unsigned char *next = loc->single_byte == 1 ? probe + 1 : gl_full_mbsnext(loc, probe);
  return next != nullptr && *next == 'B';
}

/* The long specification of the category names of state, each entry
** "key = name ; ", in category order. */
void long_spec_of(const new_gls_env *state, char *out) {
  out[0] = '\0';
  for (int c = 0; c < gls_cat_count; ++c)
    mk1loccat(out, category_params[GL_CTYPE + c], state->category_names[c]);
}

/* Unloads what a failed initialisation loaded into env (locales and
** converters) and clears the pointers, so that a later try starts afresh
** and the owner of a per-connection environment finds nothing to free. */
void release_loaded(gls_env *env) {
  new_gls_env *state = env->state;
  if (state->db_locale != nullptr && state->db_locale != env->locale)
    gl_lc_unload(state->db_locale);
  if (state->client_locale != nullptr && state->client_locale != env->locale)
    gl_lc_unload(state->client_locale);
  gl_lc_unload(env->locale);
  env->locale = nullptr;
  state->client_locale = nullptr;
  state->db_locale = nullptr;
  for (gl_cv_desc **cv :
       {&state->cv_client_db, &state->cv_db_client, &state->cv_client_os, &state->cv_os_client}) {
    if (*cv != nullptr) gl_cv_unload(*cv);
    *cv = nullptr;
  }
}

/* init_fe without the clean-up of a failure. */
int load_client_environment(void) {
  gls_env *env = CheckGlsEnv();
  new_gls_env *state = env->state;
  gl_cache_registry(nullptr, nullptr);
  const int nls = DBNLSset();

  int32_t sources[gls_cat_count] = {};
  gl_locale *loc = nullptr;
  const char *client = ggetenv("CLIENT_LOCALE");
  if (client != nullptr) {
    if (!replace_copy(&state->vars[gls_var_client_locale], client)) return fail(-2);
    client = state->vars[gls_var_client_locale];
    if (get_locale(&loc, client, sources) != 0) return -1;
    lcspec2longsp(client, state->category_names);
  } else if (nls == 0) {
    if (get_locale(&loc, GLS_DEFAULT_LOCALE, sources) != 0) return -1;
    lcspec2longsp(GLS_DEFAULT_LOCALE, state->category_names);
    if (!replace_copy(&state->vars[gls_var_client_locale], GLS_DEFAULT_CLIENT_LOCALE)) {
      gl_lc_unload(loc);
      return fail(-2);
    }
    state->default_bits |= 1 << gls_var_client_locale;
  } else {
    if (get_nlslocsp(state, 0) != 0) return fail(gls_err_nls_missing);
    char spec[GLS_FSPEC_SIZE];
    long_spec_of(state, spec);
    if (get_locale(&loc, spec, sources) != 0) return -1;
  }
  env->locale = loc;

  if (!ascii_compatible(loc)) return fail(gls_err_not_ascii);

  for (int c = 0; c < gls_cat_count; ++c) {
    state->category_sources[c] = sources[c];
    if (sources[c] == 1) togensp(state->category_names[c], state->category_names[c]);
  }

  if (client != nullptr && nls != 0) {
    bool copied = true;
    for (int c = gls_cat_ctype; c <= gls_cat_time; ++c) {
      if (replace_copy(&state->vars[gls_var_lc_ctype + c], state->category_names[c]))
        state->default_bits |= 1 << (gls_var_lc_ctype + c);
      else
        copied = false;
    }
    if (!copied) return fail(-2);
  }

  const char *db_spec = ggetenv("DB_LOCALE");
  if (db_spec != nullptr) {
    if (!replace_copy(&state->vars[gls_var_db_locale], db_spec)) return fail(-2);
    db_spec = state->vars[gls_var_db_locale];
  } else {
    db_spec = state->category_names[gls_cat_ctype];
    if (client != nullptr && nls == 0) {
      if (!replace_copy(&state->vars[gls_var_db_locale], db_spec)) return fail(-2);
      state->default_bits |= 1 << gls_var_db_locale;
    }
  }

  state->client_locale = loc;
  state->dbnls_mode = nls;

  const char *ctype = state->category_names[gls_cat_ctype];
  if (int rc = initcscdesc(db_spec, ctype, ctype, ctype); rc != 0) return fail(rc);

  if (state->cv_client_db != nullptr) {
    int32_t db_sources[gls_cat_count];
    gl_locale *db_loc = nullptr;
    if (get_locale(&db_loc, db_spec, db_sources) != 0) return -1;
    state->db_locale = db_loc;
  } else {
    state->db_locale = loc;
  }

  if (int rc = initdatetime(); rc != 0) return fail(rc);
  return 0;
}

}  // namespace

extern "C" {

gls_env *gls_env_global = nullptr;
int glsenv_count = 0;
int _8bitfsys = 0;
int8_t _gnorminit = 0;

gls_env *gls_static_env(void) { return &static_env; }

gls_env *CheckGlsEnv(void) {
  if (gls_env_global == nullptr) {
    gls_env_global = &static_env;
    if (glsenv_count == 0) glsenv_count = 1;
  }
  return gls_env_global;
}

void SetGlsEnv(gls_env *env) {
  gl_locale *before = gls_env_global != nullptr ? gls_env_global->locale : nullptr;
  if (glsenv_count == 1 && env == &static_env) {
    if (gls_env_global == nullptr) gls_env_global = env;
  } else {
    gls_env_global = env;
  }
  if (gls_env_global != nullptr && gls_env_global->locale != before) _gnorminit = 0;
}

gls_env *dvz_get_glsenv_thread(void) {
  return gls_env_global != nullptr ? gls_env_global : &static_env;
}

gl_locale *dvz_get_gl_locale_thread(void) { return dvz_get_glsenv_thread()->locale; }

void AllDestructor(void *) {}

void FreeAllTcbs(void) {}

int chkglsinit(void) {
  new_gls_env *state = CheckGlsEnv()->state;
  if (state->initialised != 0 || state->in_progress != 0) return 0;
  return initgls(state->mode);
}

int initgls(int mode) {
  if (setup_glext_funcs(mode) != 0) return -1;
  new_gls_env *state = CheckGlsEnv()->state;
  if ((state->initialised & mode) != 0) return 0;
  state->in_progress = 1;
  int rc;
  if (mode == 1)
    rc = init_fe();
  else if (mode == 2)
    rc = init_be();
  else
    rc = fail(gls_err_bad_mode);
  state->in_progress = 0;
  if (rc == 0) {
    /* A new locale record: the value library's normaliser was built from
    ** the old one. */
    _gnorminit = 0;
    state->mode = static_cast<int16_t>(mode);
    set8bitfsys();
    state->initialised = static_cast<int16_t>(state->initialised | mode);
    set_glserror(0);
    return 0;
  }
  int error = getiniterr();
  if (error == 0) error = set_glserror(gls_err_init);
  return error;
}

int dvz_gl_init(void) {
  if (chkglsinit() == 0) return 0;
  gl_locale *loc = CheckGlsEnv()->locale;
  if (loc != nullptr && (loc->error == GL_EINVAL || loc->error == GL_EBADFILE))
    loc->error = GL_EBADARG;
  return -1;
}

int thr_initgls(int mode) {
  int rc = initgls(mode);
  if (rc == 0) rmoninit(0);
  return rc;
}

int init_fe(void) {
  const int rc = load_client_environment();
  if (rc != 0) release_loaded(CheckGlsEnv());
  return rc;
}

int init_be(void) {
  gls_env *env = CheckGlsEnv();
  new_gls_env *state = env->state;
  state->flags |= 1;
  int32_t sources[gls_cat_count] = {};
  gl_locale *loc = nullptr;
  if (get_locale(&loc, GLS_DEFAULT_LOCALE, sources) != 0) return -1;
  env->locale = loc;
  lcspec2longsp(GLS_DEFAULT_LOCALE, state->category_names);
  const char *server = ggetenv("SERVER_LOCALE");
  if (server == nullptr) {
    server = GLS_DEFAULT_LOCALE;
    (void)ginsenv("SERVER_LOCALE", server);
  }
  gl_locale *server_loc = nullptr;
  if (get_locale(&server_loc, server, sources) != 0) return -1;
  state->client_locale = server_loc;
  if (int rc = initcscdesc(nullptr, nullptr, server, GLS_DEFAULT_LOCALE); rc != 0) return fail(rc);
  if (int rc = initdatetime(); rc != 0) return fail(rc);
  return 0;
}

int get_locale(gl_locale **out, const char *spec, int32_t *sources) {
  if (spec == nullptr || std::strlen(spec) > GLS_SPEC_MAX) return fail(gls_err_bad_locale);
  int second = 0;
  for (;;) {
    gl_locale *record = nullptr;
    if (gl_create_null_locale_4(&record) != 0)
      return fail(record != nullptr ? record->error : GL_ENOMEM);
    char fname[GLS_FSPEC_SIZE];
    if (spec2fname(spec, fname, sources, &second) != 0) {
      gl_lc_unload(record);
      return fail(gls_err_bad_locale);
    }
    record->error = 0;
    char *query = gl_setlocale_4(record, GL_ALL, fname);
    const int error = record->error;
    if (query != nullptr && error != GL_ECSMISMATCH) {
      record->error = 0;
      gl_destroystring(query);
      *out = record;
      return 0;
    }
    set_glserror(error);
    if (query != nullptr) gl_destroystring(query);
    gl_lc_unload(record);
    if (second != 0) return -1;
    if (error != GL_ENOFILE && error != GL_EBADARG && error != GL_EBADFILE) return -1;
    second = 1;
  }
}

int get_csc_desc(gl_cv_desc **out, const char *target, const char *source, int *error) {
  gl_cv_desc *cd = nullptr;
  const int rc = gl_cv_load(&cd, target, source, nullptr, nullptr);
  if (rc == 1) {
    *out = cd;
    return rc;
  }
  *out = nullptr;
  if (rc < 0) {
    *error = cd != nullptr ? cd->err : GL_ENOMEM;
    gl_cv_unload(cd);
  }
  return rc;
}

int initcscdesc(const char *db_spec, const char *client_spec, const char *os_spec,
                const char *client_spec2) {
  new_gls_env *state = CheckGlsEnv()->state;
  if (db_spec != nullptr && client_spec != nullptr && codeset_known(db_spec) &&
      codeset_known(client_spec)) {
    if (int error = load_pair(&state->cv_client_db, &state->cv_db_client, db_spec, client_spec);
        error != 0)
      return error == GL_ENOMEM ? gls_err_no_memory : gls_err_cv_file;
  }
  if (os_spec != nullptr && client_spec2 != nullptr && codeset_known(os_spec) &&
      codeset_known(client_spec2))
    (void)load_pair(&state->cv_client_os, &state->cv_os_client, os_spec, client_spec2);
  return 0;
}

int getiniterr(void) {
  int error = get_glserror();
  switch (error) {
    case -1:
    case -3:
    case -4:
    case -5:
    case -6:
    case -7:
    case -8:
      error = gls_err_init;
      break;
    case -2:
    case GL_ENOMEM:
      error = gls_err_no_memory;
      break;
    case GL_ENOFILE:
    case GL_EBADARG:
    case GL_EBADFILE:
    case GL_EKEYLEN:
      error = gls_err_bad_locale;
      break;
    case GL_ECSMISMATCH:
    case GL_ECTYPECS:
      error = gls_err_codesets;
      break;
    default:
      break;
  }
  return set_glserror(error);
}

void set8bitfsys(void) {
  const char *value = ggetenv("GLS8BITFSYS");
  if (value == nullptr) return;
  if (std::strcmp(value, "1") == 0) _8bitfsys = 1;
  if (std::strcmp(value, "0") == 0) _8bitfsys = 0;
}

}  // extern "C"
