/*
** os_glsenvs.h: the per-connection locale environments and the host
** callbacks of the locale library.
**
** A connect describes its locale variables in a save-area record, reuses
** the first listed environment made under the same values, or creates,
** initialises and lists a new one (dvz_connect_glsenv does those steps for
** the runtime). The list only grows; every environment has its own state
** block, conventions block and copies of the fifteen variables.
**
** setup_glext_funcs installs the client's 18 callbacks into the locale
** library's host-service table, so that the library reads the environment
** through ggetenv and takes the current date and time from the value
** library's clock.
**
** C linkage throughout. Errors are negative numbers (-406 no memory, or
** the locale initialisation's error, a full 32-bit value).
*/
#ifndef DVZ_OSLIB_OS_GLSENVS_H
#define DVZ_OSLIB_OS_GLSENVS_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "gl_host.h"
#include "os_glsenv.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Save area and list ------------------------------------------------- */

/* The static, all-zero save area glsenv_savearea points to; nothing in the
** client changes it, so every connect builds a fresh record. */
extern glsenv_save glsenv_savearea_global;

/* One listed environment: one allocation holding the link, the pointer to
** the environment and the environment itself. */
typedef struct glsenv_node {
  struct glsenv_node *next;
  gls_env *env; /* points at record */
  gls_env record;
} glsenv_node;

/* The first environment made by a connect, in creation order; NULL when
** none. Written only by CreateGlsEnv and FreeAllGlsEnv. */
extern glsenv_node *GlsEnv_List;

/* ---- Environments -------------------------------------------------------- */

/* A new save area: in-use word 0 and the fifteen values as ggetenv2 gives
** them (not copies). NULL when memory is short. The caller frees the
** record with free() (only the record). */
glsenv_save *CreateGlsEnvLocale(void);
/* 0 with *env the first listed environment that matches save (see
** CompareLocale), or -1 with *env NULL. */
int CheckExistingGlsEnv(const glsenv_save *save, gls_env **env);
/* 0 when env was made under the values of save, else -1. A NULL save
** matches every environment; a NULL env or one without a state block none. */
int CompareLocale(const gls_env *env, const glsenv_save *save);
/* One variable: 0 when both are absent, when they are equal ignoring case,
** or when only copy is present and was filled by default (is_default
** non-zero: the variable's bit of the state block's default bits); else
** -1. */
int CompareLocaleField(const char *copy, int32_t is_default, const char *value);
/* Makes a new environment (state mode 1, its own conventions block, copies
** of save's values or of ggetenv2's), counts it in glsenv_count, with
** initialise non-zero runs InitGlsEnv, then lists it and sets *env.
** 0, -406 (no memory) or InitGlsEnv's error; on failure nothing is listed,
** counted, loaded or allocated and *env is left alone. */
int CreateGlsEnv(const glsenv_save *save, gls_env **env, int initialise);
/* REQUIRES: env has a state block (made by CreateGlsEnv, or the static
** one). Makes env current and initialises it (initgls with its mode, then
** rmoninit): 0, env staying current. On failure the previous environment
** is current again (given an "en_US.8859-1" CLIENT_LOCALE copy by default
** when it has none) and the error is returned. */
int InitGlsEnv(gls_env *env);
/* Releases what the current environment loaded (name caches, date format,
** locales, converters) and clears its initialised bits; the code-set
** registry cache is rebuilt from the built-in table. 0. */
int freegls(void);
/* freegls for every listed environment, which is then freed and no longer
** counted in glsenv_count; the list is emptied, the static environment
** made current and released too. 0. */
int FreeAllGlsEnv(void);

/* The locale steps of a connect: the save area (glsenv_savearea when its
** in-use word is set, else a fresh one), an existing environment
** initialised again or a new one created and initialised, then rldctype.
** 0 with *env the connection's environment, or the error: -406 when no
** save area can be made, else the initialisation's full error number. A
** fresh save area is freed in every case. */
int dvz_connect_glsenv(gls_env **env);

/* ---- Host callbacks ------------------------------------------------------ */

/* Mode 1 (client): installs the 18 callbacks in the locale library's
** host-service table; 0, or -1 at the first refusal. Any other mode: -1,
** nothing installed. */
int setup_glext_funcs(int mode);

/* The callbacks, one per slot of the table (see gl_host.h). */
char *cl_ext_getenv(const char *name); /* ggetenv */
int *cl_ext_errno(gl_locale *record); /* record, or a static scratch word */
int cl_ext_fclose(FILE *stream); /* fclose; always 0 */
int cl_ext_feof(FILE *stream);
int cl_ext_ferror(FILE *stream);
int cl_ext_fgetc(FILE *stream);
char *cl_ext_fgets(char *buffer, int size, FILE *stream);
FILE *cl_ext_fopen(const char *name, const char *mode);
void cl_ext_free(void *block);
int cl_ext_fseek(FILE *stream, long offset, int origin);
long cl_ext_ftell(FILE *stream);
size_t cl_ext_fwrite(const void *data, size_t size, size_t count, FILE *stream);
int cl_ext_getc(FILE *stream);
void *cl_ext_malloc(size_t size);
int cl_ext_ungetc(int byte, FILE *stream);
/* "NAME=value" put with gputenv; -1 when no '=' follows within 80
** characters of the name. */
int cl_ext_putenv(char *assignment);
/* Today {month, day, year} from the value library's current time; 0. */
int cl_ext_currdate(gl_date_rec *date);
/* Now as twelve words from the value library's localtime; 0 or -1. */
int cl_ext_currtime(gl_time_rec *time);

#ifdef __cplusplus
}
#endif

#endif
