/*
** File-system calls with names converted from the client's to the
** operating system's code set, the 8-bit test of a string, and reading a
** stream converted from the OS's code set to the client's (gcvgetc).
**
** Callers: the path and database-path services (gcvaccess, gcvchdir) and
** the environment look-up (is8bitstr). Calls: the current locale
** environment's client-to-OS and OS-to-client converters (CheckGlsEnv),
** gcv_extbuf, gl_miconv, and the general control block, which holds the
** bytes of a converted character that gcvgetc still has to hand out.
**
** A name is converted into a local buffer of fixed size (1025 bytes for
** gcvchdir, 261 for gcvfopen, 260 for the others); a failed or truncated
** conversion fails the call without reaching the platform. Without a
** converter the name goes to the platform as given.
*/
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstddef>

#include "conversion_internal.h"
#include "gl_errors.h"
#include "os_conv.h"
#include "os_gentcb.h"
#include "os_glsenv.h"

namespace {

constexpr size_t name_room = 260;
constexpr size_t chdir_room = 1025;
constexpr size_t fopen_room = 261;

/* Mode of a file gcvopen creates, before the umask. */
constexpr mode_t open_create_mode = 0666;

/* A source character is at most this many bytes; its conversion, shift
** sequences included, fits the output buffer. */
constexpr int char_bytes_max = 4;
constexpr int converted_room = 16;

/* The current environment's converter by direction, NULL when none. */
gl_cv_desc *client_to_os() {
  gls_env *env = CheckGlsEnv();
  return env != nullptr && env->state != nullptr ? env->state->cv_client_os : nullptr;
}

gl_cv_desc *os_to_client() {
  gls_env *env = CheckGlsEnv();
  return env != nullptr && env->state != nullptr ? env->state->cv_os_client : nullptr;
}

/* name converted into buf through cv; false when the conversion fails or
** does not fit. */
template <size_t N>
bool to_os(gl_cv_desc *cv, const char *name, std::array<char, N> &buf) {
  int truncated = 0;
  return gcv_extbuf(cv, name, nullptr, buf.data(), static_cast<int>(N), &truncated) >= 0 &&
         truncated == 0;
}

/* call(name) with the name in the OS code set, or failure when it cannot
** be converted into N bytes. */
template <size_t N, class Call, class Result>
Result with_os_name(const char *name, Call call, Result failure) {
  gl_cv_desc *cv = client_to_os();
  if (cv == nullptr) return call(name);
  std::array<char, N> buf;
  if (!to_os(cv, name, buf)) return failure;
  return call(buf.data());
}

/* Hands out the next held byte of a converted character, -1 when none is
** held. The held bytes are cv_lookahead[state .. len). */
int next_held(gen_tcb *g) {
  if (g == nullptr || g->cv_lookahead_len <= 0) return -1;
  const int byte = g->cv_lookahead[g->cv_lookahead_state++];
  if (g->cv_lookahead_state >= g->cv_lookahead_len) {
    g->cv_lookahead_len = 0;
    g->cv_lookahead_state = 0;
  }
  return byte;
}

/* Converts one character of the stream, its first byte first, into out.
** Returns the bytes written (0 for a character that converts to nothing,
** such as a shift toggle), or -1 with glserror set (EOF inside a
** character is a character without conversion). */
int convert_one(gl_cv_desc *cv, FILE *stream, int first, unsigned char (&out)[converted_room]) {
  unsigned char in[char_bytes_max];
  int n = 0;
  in[n++] = static_cast<unsigned char>(first);
  int longest = cv->source_max_len;
  if (longest < 1 || longest > char_bytes_max) longest = char_bytes_max;
  for (;;) {
    const unsigned char *from = in;
    int left = n;
    unsigned char *to = out;
    int room = converted_room;
    if (gl_miconv(cv, &from, &left, &to, &room, nullptr) == 0) return converted_room - room;
    /* A character cut by the input: it needs the stream's next byte. */
    if (cv->err == GL_EINVAL && n < longest) {
      const int next = getc(stream);
      if (next != EOF) {
        in[n++] = static_cast<unsigned char>(next);
        continue;
      }
    }
    set_glserror(oslib_conv::conversion_error(cv->err));
    return -1;
  }
}

}  // namespace

extern "C" {

int gcvaccess(const char *name, int mode) {
  return with_os_name<name_room>(
      name, [mode](const char *n) { return access(n, mode); }, -1);
}

int gcvchdir(const char *name) {
  return with_os_name<chdir_room>(
      name, [](const char *n) { return chdir(n); }, -1);
}

int gcvopen(const char *name, int flags) {
  return with_os_name<name_room>(
      name, [flags](const char *n) { return open(n, flags, open_create_mode); }, -1);
}

int gcvcreat(const char *name, mode_t mode) {
  return with_os_name<name_room>(
      name, [mode](const char *n) { return creat(n, mode); }, -1);
}

int gcvstat(const char *name, struct stat *buffer) {
  return with_os_name<name_room>(
      name, [buffer](const char *n) { return stat(n, buffer); }, -1);
}

int gcvunlink(const char *name) {
  return with_os_name<name_room>(
      name, [](const char *n) { return unlink(n); }, -1);
}

int gcvlink(const char *oldname, const char *newname) {
  gl_cv_desc *cv = client_to_os();
  if (cv == nullptr) return link(oldname, newname);
  std::array<char, name_room> from;
  std::array<char, name_room> to;
  if (!to_os(cv, oldname, from) || !to_os(cv, newname, to)) return -1;
  return link(from.data(), to.data());
}

FILE *gcvfopen(const char *name, const char *mode) {
  return with_os_name<fopen_room>(
      name, [mode](const char *n) { return fopen(n, mode); }, static_cast<FILE *>(nullptr));
}

int is8bitstr(const char *s) {
  if (s == nullptr) return 0;
  for (; *s != '\0'; ++s)
    if (static_cast<unsigned char>(*s) > 127) return 1;
  return 0;
}

int gcvgetc(FILE *stream) {
  gen_tcb *g = CheckGenInit();
  const int held = next_held(g);
  if (held >= 0) return held;
  gl_cv_desc *cv = os_to_client();
  for (;;) {
    const int first = getc(stream);
    if (first == EOF || cv == nullptr || g == nullptr) return first;
    unsigned char out[converted_room];
    const int written = convert_one(cv, stream, first, out);
    if (written < 0) return EOF;
    if (written == 0) continue;
    if (written - 1 > static_cast<int>(sizeof g->cv_lookahead)) {
      set_glserror(gcv_err_conversion);
      return EOF;
    }
    for (int i = 1; i < written; ++i)
      g->cv_lookahead[i - 1] = out[i];
    g->cv_lookahead_len = written - 1;
    g->cv_lookahead_state = 0;
    return out[0];
  }
}

}  // extern "C"
