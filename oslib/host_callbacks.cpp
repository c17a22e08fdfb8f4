/*
** host_callbacks.cpp: the client's 18 callbacks for the locale library's
** host-service table (os_glsenvs.h), installed by setup_glext_funcs at
** every locale initialisation.
**
** Through them the locale library reads the environment with ggetenv (rc
** files and defaults included), puts variables with gputenv, and takes
** the current date and time from the value library (os_datetime.h), so
** that DBTODAY and a fixed current time apply to it as to the client. The
** file and memory callbacks are the C library's own.
*/
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "os_datetime.h"
#include "os_env.h"
#include "os_glsenvs.h"

namespace {

/* The error word of a NULL record. */
int temperr = 0;

/* The longest variable name cl_ext_putenv takes. */
constexpr size_t putenv_name_max = 80;

/* One slot and its callback. */
struct slot_callback {
  int slot;
  gl_ext_funcptr function;
};

template <typename F>
gl_ext_funcptr as_slot(F *function) {
  return reinterpret_cast<gl_ext_funcptr>(function);
}

/* Base-100 digit i of a DATETIME value whose first digit is the century:
** 0 where the value holds none. */
int dtime_digit(const dtime_t &value, int i) {
  const int leading = 7 - value.dt_dec.exponent; /* zero pairs dropped in front */
  const int at = i - leading;
  if (at < 0 || at >= value.dt_dec.npairs || at >= DECSIZE) return 0;
  return value.dt_dec.pairs[at];
}

}  // namespace

extern "C" {

char *cl_ext_getenv(const char *name) { return ggetenv(name); }

int *cl_ext_errno(gl_locale *record) {
  return record != nullptr ? reinterpret_cast<int *>(record) : &temperr;
}

int cl_ext_fclose(FILE *stream) {
  fclose(stream);
  return 0;
}

int cl_ext_feof(FILE *stream) { return feof(stream); }
int cl_ext_ferror(FILE *stream) { return ferror(stream); }
int cl_ext_fgetc(FILE *stream) { return fgetc(stream); }
char *cl_ext_fgets(char *buffer, int size, FILE *stream) { return fgets(buffer, size, stream); }
FILE *cl_ext_fopen(const char *name, const char *mode) { return fopen(name, mode); }
void cl_ext_free(void *block) { free(block); }
int cl_ext_fseek(FILE *stream, long offset, int origin) { return fseek(stream, offset, origin); }
long cl_ext_ftell(FILE *stream) { return ftell(stream); }

size_t cl_ext_fwrite(const void *data, size_t size, size_t count, FILE *stream) {
  return fwrite(data, size, count, stream);
}

int cl_ext_getc(FILE *stream) { return getc(stream); }
void *cl_ext_malloc(size_t size) { return malloc(size); }
int cl_ext_ungetc(int byte, FILE *stream) { return ungetc(byte, stream); }

int cl_ext_putenv(char *assignment) {
  if (assignment == nullptr) return -1;
  const void *equals = memchr(assignment, '=', strnlen(assignment, putenv_name_max + 1));
  if (equals == nullptr) return -1;
  const size_t name_length = static_cast<size_t>(static_cast<const char *>(equals) - assignment);
  char name[putenv_name_max + 1];
  memcpy(name, assignment, name_length);
  name[name_length] = '\0';
  return gputenv(name, assignment + name_length + 1);
}

int cl_ext_currdate(gl_date_rec *date) {
  dtime_t now {};
  rdtcurrent(&now);
  date->month = static_cast<uint16_t>(dtime_digit(now, 2));
  date->day = static_cast<uint16_t>(dtime_digit(now, 3));
  date->year = static_cast<uint16_t>(100 * dtime_digit(now, 0) + dtime_digit(now, 1));
  return 0;
}

int cl_ext_currtime(gl_time_rec *time_out) {
  const time_t now = time(nullptr);
  struct tm local {};
  if (dvz_localtime(&now, &local) == nullptr) return -1;
  *time_out = gl_time_rec {0,
                           local.tm_sec,
                           local.tm_min,
                           local.tm_hour,
                           local.tm_mday,
                           local.tm_mon,
                           local.tm_year,
                           local.tm_wday,
                           local.tm_yday,
                           local.tm_isdst,
                           0,
                           0};
  return 0;
}

int setup_glext_funcs(int mode) {
  if (mode != 1) return -1;
  /* The error-word callback first: a later refusal stores its error
  ** through it. */
  const slot_callback callbacks[GL_EXT_SLOTS] = {
      {GL_EXT_ERRNO, as_slot(cl_ext_errno)},       {GL_EXT_GETENV, as_slot(cl_ext_getenv)},
      {GL_EXT_MALLOC, as_slot(cl_ext_malloc)},     {GL_EXT_FREE, as_slot(cl_ext_free)},
      {GL_EXT_FOPEN, as_slot(cl_ext_fopen)},       {GL_EXT_FCLOSE, as_slot(cl_ext_fclose)},
      {GL_EXT_FGETC, as_slot(cl_ext_fgetc)},       {GL_EXT_GETC, as_slot(cl_ext_getc)},
      {GL_EXT_UNGETC, as_slot(cl_ext_ungetc)},     {GL_EXT_FGETS, as_slot(cl_ext_fgets)},
      {GL_EXT_FWRITE, as_slot(cl_ext_fwrite)},     {GL_EXT_FEOF, as_slot(cl_ext_feof)},
      {GL_EXT_FERROR, as_slot(cl_ext_ferror)},     {GL_EXT_CURRTIME, as_slot(cl_ext_currtime)},
      {GL_EXT_CURRDATE, as_slot(cl_ext_currdate)}, {GL_EXT_PUTENV, as_slot(cl_ext_putenv)},
      {GL_EXT_FSEEK, as_slot(cl_ext_fseek)},       {GL_EXT_FTELL, as_slot(cl_ext_ftell)},
  };
  /* The error record of the installation calls. */
  int scratch = 0;
  for (const slot_callback &c : callbacks)
    if (gl_setextfunc(reinterpret_cast<gl_locale *>(&scratch), c.slot, c.function) != 0) return -1;
  return 0;
}

}  // extern "C"
