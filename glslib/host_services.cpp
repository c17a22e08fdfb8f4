/*
** Host-service table of the locale library.
**
** Every library access to the environment, the error word, streams, memory
** and the clock goes through the wrappers here. A wrapper calls the function
** the host installed in its slot (the client library installs its callbacks
** when it sets up a locale environment) and the platform default while the
** slot is empty; one template (through_slot) makes all eighteen from the
** slot number and the default, so they cannot drift apart. Also the memory
** and environment helpers built on them.
** Callers: every module of the library. Calls: the C library.
*/

#include "gl_host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

extern "C" {

gl_ext_funcptr funcptr_arr[GL_EXT_SLOTS];
int32_t _gl_ext_func;

}  // extern "C"

namespace {

/* The wrapper of slot Slot whose default is Default: the installed function
** of the slot (cast back to the default's type) when there is one, else the
** default. While nothing was ever installed the table is not read at all. */
template <int Slot, auto Default, typename... Args>
auto through_slot(Args... args) {
  static_assert(Slot >= 0 && Slot < GL_EXT_SLOTS);
  using Fn = decltype(Default);
  if (_gl_ext_func != 0 && funcptr_arr[Slot] != nullptr)
    return reinterpret_cast<Fn>(funcptr_arr[Slot])(args...);
  return Default(args...);
}

/* Where a NULL record's error goes before the host has its own hook, so
** that storing an error for no record never writes through NULL. */
int null_record_errno;

}  // namespace

extern "C" {

/* ---- Installation -------------------------------------------------------- */

int gl_setextfunc(gl_locale *record, int slot, gl_ext_funcptr function) {
  if (slot < 0 || slot >= GL_EXT_SLOTS) {
    *_gl_ext_errno(record) = GL_EBADARG;
    return -1;
  }
  _gl_set_ext_funcptr(slot, function);
  return 0;
}

gl_ext_funcptr _gl_get_ext_funcptr(int slot) {
  if (slot < 0 || slot >= GL_EXT_SLOTS) return nullptr;
  return funcptr_arr[slot];
}

void _gl_set_ext_funcptr(int slot, gl_ext_funcptr function) {
  if (slot < 0 || slot >= GL_EXT_SLOTS) return;
  funcptr_arr[slot] = function;
  _gl_ext_func = 1;
}

/* ---- Defaults ------------------------------------------------------------ */

char *gl_ext_getenv(const char *name) { return std::getenv(name); }

int *gl_ext_errno(gl_locale *record) {
  if (record == nullptr) return &null_record_errno;
  return reinterpret_cast<int *>(record);
}

int gl_ext_fclose(FILE *stream) { return std::fclose(stream); }
int gl_ext_feof(FILE *stream) { return std::feof(stream); }
int gl_ext_ferror(FILE *stream) { return std::ferror(stream); }
int gl_ext_fgetc(FILE *stream) { return std::fgetc(stream); }
char *gl_ext_fgets(char *buffer, int size, FILE *stream) {
  return std::fgets(buffer, size, stream);
}
FILE *gl_ext_fopen(const char *name, const char *mode) { return std::fopen(name, mode); }
void gl_ext_free(void *block) { std::free(block); }
int gl_ext_fseek(FILE *stream, long offset, int origin) {
  return std::fseek(stream, offset, origin);
}
long gl_ext_ftell(FILE *stream) { return std::ftell(stream); }
size_t gl_ext_fwrite(const void *data, size_t size, size_t count, FILE *stream) {
  return std::fwrite(data, size, count, stream);
}
int gl_ext_getc(FILE *stream) { return getc(stream); }
void *gl_ext_malloc(size_t size) { return std::malloc(size); }
int gl_ext_ungetc(int byte, FILE *stream) { return std::ungetc(byte, stream); }
int gl_ext_putenv(char *assignment) { return putenv(assignment); }

int gl_ext_currdate(gl_date_rec *date) {
  std::time_t now = std::time(nullptr);
  struct tm tm;
  if (date == nullptr || localtime_r(&now, &tm) == nullptr) return -1;
  date->month = static_cast<uint16_t>(tm.tm_mon + 1);
  date->day = static_cast<uint16_t>(tm.tm_mday);
  date->year = static_cast<uint16_t>(tm.tm_year + 1900);
  return 0;
}

int gl_ext_currtime(gl_time_rec *time) {
  std::time_t now = std::time(nullptr);
  struct tm tm;
  if (time == nullptr || localtime_r(&now, &tm) == nullptr) return -1;
  *time = gl_time_rec {0,          tm.tm_sec,  tm.tm_min,  tm.tm_hour,  tm.tm_mday, tm.tm_mon,
                       tm.tm_year, tm.tm_wday, tm.tm_yday, tm.tm_isdst, 0,          0};
  return 0;
}

/* ---- Wrappers ------------------------------------------------------------ */

/* One wrapper per slot, all made by through_slot: the slot's installed
** function when there is one, else the default, called with the wrapper's
** own arguments. The default's type is the slot's type. */
char *_gl_ext_getenv(const char *name) { return through_slot<GL_EXT_GETENV, gl_ext_getenv>(name); }
int *_gl_ext_errno(gl_locale *record) { return through_slot<GL_EXT_ERRNO, gl_ext_errno>(record); }
int _gl_ext_fclose(FILE *stream) { return through_slot<GL_EXT_FCLOSE, gl_ext_fclose>(stream); }
int _gl_ext_feof(FILE *stream) { return through_slot<GL_EXT_FEOF, gl_ext_feof>(stream); }
int _gl_ext_ferror(FILE *stream) { return through_slot<GL_EXT_FERROR, gl_ext_ferror>(stream); }
int _gl_ext_fgetc(FILE *stream) { return through_slot<GL_EXT_FGETC, gl_ext_fgetc>(stream); }
char *_gl_ext_fgets(char *buffer, int size, FILE *stream) {
  return through_slot<GL_EXT_FGETS, gl_ext_fgets>(buffer, size, stream);
}
FILE *_gl_ext_fopen(const char *name, const char *mode) {
  return through_slot<GL_EXT_FOPEN, gl_ext_fopen>(name, mode);
}
void _gl_ext_free(void *block) { through_slot<GL_EXT_FREE, gl_ext_free>(block); }
int _gl_ext_fseek(FILE *stream, long offset, int origin) {
  return through_slot<GL_EXT_FSEEK, gl_ext_fseek>(stream, offset, origin);
}
long _gl_ext_ftell(FILE *stream) { return through_slot<GL_EXT_FTELL, gl_ext_ftell>(stream); }
size_t _gl_ext_fwrite(const void *data, size_t size, size_t count, FILE *stream) {
  return through_slot<GL_EXT_FWRITE, gl_ext_fwrite>(data, size, count, stream);
}
int _gl_ext_getc(FILE *stream) { return through_slot<GL_EXT_GETC, gl_ext_getc>(stream); }
void *_gl_ext_malloc(size_t size) { return through_slot<GL_EXT_MALLOC, gl_ext_malloc>(size); }
int _gl_ext_ungetc(int byte, FILE *stream) {
  return through_slot<GL_EXT_UNGETC, gl_ext_ungetc>(byte, stream);
}
int _gl_ext_putenv(char *assignment) {
  return through_slot<GL_EXT_PUTENV, gl_ext_putenv>(assignment);
}
int _gl_ext_currdate(gl_date_rec *date) {
  return through_slot<GL_EXT_CURRDATE, gl_ext_currdate>(date);
}
int _gl_ext_currtime(gl_time_rec *time) {
  return through_slot<GL_EXT_CURRTIME, gl_ext_currtime>(time);
}

/* ---- Memory, strings, environment ----------------------------------------- */

void *_gl_alloc_ptr(size_t size) {
  if (size == 0) return nullptr;
  return _gl_ext_malloc(size);
}

void _gl_free_ptr(void *block) {
  if (block != nullptr) _gl_ext_free(block);
}

void gl_destroystring(char *string) { _gl_free_ptr(string); }

char *_gl_get_env_var(const char *name) {
  char *value = _gl_ext_getenv(name);
  if (value == nullptr || value[0] == '\0') return nullptr;
  return value;
}

}  // extern "C"
