// Host-service table of the locale library.
//
// Every library access to the environment, the error word, streams, memory
// and the clock goes through the wrappers here. A wrapper calls the function
// the host installed in its slot (the client library installs its callbacks
// when it sets up a locale environment) and the platform default while the
// slot is empty. Also the memory and environment helpers built on them.
// Callers: every module of the library. Calls: the C library.

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

// The installed function of a slot as its own type, or nullptr. While
// nothing was ever installed the table is not read at all.
template <typename Fn>
Fn installed(int slot) {
    if (_gl_ext_func == 0) return nullptr;
    return reinterpret_cast<Fn>(funcptr_arr[slot]);
}

// Where a NULL record's error goes before the host has its own hook, so
// that storing an error for no record never writes through NULL.
int null_record_errno;

}  // namespace

extern "C" {

// ---- Installation --------------------------------------------------------

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

// ---- Defaults ------------------------------------------------------------

char *gl_ext_getenv(const char *name) { return std::getenv(name); }

int *gl_ext_errno(gl_locale *record) {
    if (record == nullptr) return &null_record_errno;
    return reinterpret_cast<int *>(record);
}

int gl_ext_fclose(FILE *stream) { return std::fclose(stream); }
int gl_ext_feof(FILE *stream) { return std::feof(stream); }
int gl_ext_ferror(FILE *stream) { return std::ferror(stream); }
int gl_ext_fgetc(FILE *stream) { return std::fgetc(stream); }
char *gl_ext_fgets(char *buffer, int size, FILE *stream) { return std::fgets(buffer, size, stream); }
FILE *gl_ext_fopen(const char *name, const char *mode) { return std::fopen(name, mode); }
void gl_ext_free(void *block) { std::free(block); }
int gl_ext_fseek(FILE *stream, long offset, int origin) { return std::fseek(stream, offset, origin); }
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
    *time = gl_time_rec{0, tm.tm_sec, tm.tm_min, tm.tm_hour, tm.tm_mday, tm.tm_mon,
                        tm.tm_year, tm.tm_wday, tm.tm_yday, tm.tm_isdst, 0, 0};
    return 0;
}

// ---- Wrappers ------------------------------------------------------------

char *_gl_ext_getenv(const char *name) {
    if (auto f = installed<gl_ext_getenv_fn>(GL_EXT_GETENV)) return f(name);
    return gl_ext_getenv(name);
}

int *_gl_ext_errno(gl_locale *record) {
    if (auto f = installed<gl_ext_errno_fn>(GL_EXT_ERRNO)) return f(record);
    return gl_ext_errno(record);
}

int _gl_ext_fclose(FILE *stream) {
    if (auto f = installed<gl_ext_fclose_fn>(GL_EXT_FCLOSE)) return f(stream);
    return std::fclose(stream);
}

int _gl_ext_feof(FILE *stream) {
    if (auto f = installed<gl_ext_feof_fn>(GL_EXT_FEOF)) return f(stream);
    return gl_ext_feof(stream);
}

int _gl_ext_ferror(FILE *stream) {
    if (auto f = installed<gl_ext_ferror_fn>(GL_EXT_FERROR)) return f(stream);
    return gl_ext_ferror(stream);
}

int _gl_ext_fgetc(FILE *stream) {
    if (auto f = installed<gl_ext_fgetc_fn>(GL_EXT_FGETC)) return f(stream);
    return gl_ext_fgetc(stream);
}

char *_gl_ext_fgets(char *buffer, int size, FILE *stream) {
    if (auto f = installed<gl_ext_fgets_fn>(GL_EXT_FGETS)) return f(buffer, size, stream);
    return gl_ext_fgets(buffer, size, stream);
}

FILE *_gl_ext_fopen(const char *name, const char *mode) {
    if (auto f = installed<gl_ext_fopen_fn>(GL_EXT_FOPEN)) return f(name, mode);
    return gl_ext_fopen(name, mode);
}

void _gl_ext_free(void *block) {
    if (auto f = installed<gl_ext_free_fn>(GL_EXT_FREE)) {
        f(block);
        return;
    }
    gl_ext_free(block);
}

int _gl_ext_fseek(FILE *stream, long offset, int origin) {
    if (auto f = installed<gl_ext_fseek_fn>(GL_EXT_FSEEK)) return f(stream, offset, origin);
    return gl_ext_fseek(stream, offset, origin);
}

long _gl_ext_ftell(FILE *stream) {
    if (auto f = installed<gl_ext_ftell_fn>(GL_EXT_FTELL)) return f(stream);
    return gl_ext_ftell(stream);
}

size_t _gl_ext_fwrite(const void *data, size_t size, size_t count, FILE *stream) {
    if (auto f = installed<gl_ext_fwrite_fn>(GL_EXT_FWRITE)) return f(data, size, count, stream);
    return gl_ext_fwrite(data, size, count, stream);
}

int _gl_ext_getc(FILE *stream) {
    if (auto f = installed<gl_ext_getc_fn>(GL_EXT_GETC)) return f(stream);
    return gl_ext_getc(stream);
}

void *_gl_ext_malloc(size_t size) {
    if (auto f = installed<gl_ext_malloc_fn>(GL_EXT_MALLOC)) return f(size);
    return gl_ext_malloc(size);
}

int _gl_ext_ungetc(int byte, FILE *stream) {
    if (auto f = installed<gl_ext_ungetc_fn>(GL_EXT_UNGETC)) return f(byte, stream);
    return gl_ext_ungetc(byte, stream);
}

int _gl_ext_putenv(char *assignment) {
    if (auto f = installed<gl_ext_putenv_fn>(GL_EXT_PUTENV)) return f(assignment);
    return gl_ext_putenv(assignment);
}

int _gl_ext_currdate(gl_date_rec *date) {
    if (auto f = installed<gl_ext_currdate_fn>(GL_EXT_CURRDATE)) return f(date);
    return gl_ext_currdate(date);
}

int _gl_ext_currtime(gl_time_rec *time) {
    if (auto f = installed<gl_ext_currtime_fn>(GL_EXT_CURRTIME)) return f(time);
    return gl_ext_currtime(time);
}

// ---- Memory, strings, environment -----------------------------------------

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
