/*
** Case conversion of strings through the current locale (rdownshift,
** rupshift, rcaseshift in place; sqlcaseshift and sqlinitcap into a sized
** output) and rbasename, which must not split a multibyte character.
**
** The locale record is the current locale environment's (CheckGlsEnv).
** Single-byte locales go through the record's byte maps; multibyte ones
** character by character through the locale library. A conversion never
** writes past its room and never leaves part of a character behind.
*/
#include <cstdlib>
#include <cstring>

#include "gl_chars.h"
#include "gl_errors.h"
#include "os_context.h"
#include "os_env.h"
#include "os_errors.h"
#include "os_glsenv.h"

namespace {

/* The current locale once the client locale is initialised, else NULL. */
gl_locale *initialised_locale() {
  if (chkglsinit() != 0) return nullptr;
  gls_env *env = CheckGlsEnv();
  return env != nullptr ? env->locale : nullptr;
}

/* One character converted: bytes read, bytes written to out (at most 4);
** valid false (nothing written) for bytes that are no character. */
struct case_step {
  int consumed;
  int written;
  bool valid;
};

const unsigned char *byte_map(gl_locale *loc, bool upper) {
  if (loc->single_byte != 1) return nullptr;
  return upper ? loc->upper_map : loc->lower_map;
}

/* Converts the character at s (at most remaining bytes, remaining >= 1). */
case_step convert_char(gl_locale *loc, const unsigned char *map, bool upper, unsigned char *out,
                       const unsigned char *s, int remaining) {
  if (map != nullptr) {
    out[0] = map[s[0]];
    return {1, 1, true};
  }
  const int length = _dvz_gl_full_mblen(loc, s, remaining);
  if (length <= 0) return {1, 0, false};
  const int r =
      upper ? _dvz_gl_im_tomupper(loc, out, s, length) : _dvz_gl_im_tomlower(loc, out, s, length);
  if (r == 0 || (r >> 8) != length) { /* no case entry: unchanged */
    std::memcpy(out, s, static_cast<size_t>(length));
    return {length, length, true};
  }
  return {length, r & 255, true};
}

/* Converts the length bytes at s into out, stopping before a character
** that would take the output past room bytes (and, when in_place, past the
** input still to be read). Invalid bytes are copied as they are. Returns
** the bytes written. */
int convert_run(gl_locale *loc, bool upper, const unsigned char *s, int length, unsigned char *out,
                int room, bool in_place) {
  const unsigned char *map = byte_map(loc, upper);
  int in = 0;
  int written = 0;
  while (in < length) {
    unsigned char bytes[4];
    case_step step = convert_char(loc, map, upper, bytes, s + in, length - in);
    if (!step.valid) {
      bytes[0] = s[in];
      step.written = 1;
    }
    if (written + step.written > room) break;
    if (in_place && written + step.written > in + step.consumed) break;
    std::memcpy(out + written, bytes, static_cast<size_t>(step.written));
    written += step.written;
    in += step.consumed;
  }
  return written;
}

/* Converts the terminated input into output (n bytes) with per-character
** letter cases chosen by pick (true: upper); zero-fills the rest.
** 0, or -941 at an invalid character. */
template <class Pick>
int convert_sized(const char *input, char *output, int n, Pick pick) {
  if (n <= 0) return 0;
  auto *out = reinterpret_cast<unsigned char *>(output);
  gl_locale *loc = initialised_locale();
  const auto *s = reinterpret_cast<const unsigned char *>(input);
  const int length = input != nullptr ? static_cast<int>(std::strlen(input)) : 0;
  int in = 0;
  int written = 0;
  while (in < length) {
    unsigned char bytes[4];
    case_step step {1, 1, true};
    if (loc == nullptr) {
      bytes[0] = s[in];
    } else {
      loc->error = 0;
      const bool upper = pick(loc, s + in, length - in);
      step = convert_char(loc, byte_map(loc, upper), upper, bytes, s + in, length - in);
      if (!step.valid || loc->error == GL_EILSEQ) return os_err_case_char;
    }
    if (written + step.written > n) break;
    std::memcpy(out + written, bytes, static_cast<size_t>(step.written));
    written += step.written;
    in += step.consumed;
  }
  std::memset(out + written, 0, static_cast<size_t>(n - written));
  return 0;
}

/* Class mask of the character at s (0 when it is invalid). */
int char_class(gl_locale *loc, const unsigned char *s, int remaining, int mask) {
  if (loc->single_byte == 1 && loc->class_map != nullptr) return loc->class_map[s[0]] & mask;
  const int saved = loc->error;
  const int result = _dvz_gl_im_ismctype(loc, s, remaining, mask);
  loc->error = saved; /* validity is judged by the conversion */
  return result;
}

}  // namespace

extern "C" {

void rcaseshift(int mode, char *s) {
  if (s == nullptr || (mode != os_case_lower && mode != os_case_upper)) return;
  const int length = static_cast<int>(std::strlen(s));
  gl_locale *loc = initialised_locale();
  if (loc == nullptr || length == 0) return;
  const bool upper = mode == os_case_upper;
  auto *bytes = reinterpret_cast<unsigned char *>(s);
  if (gl_case_conv_outbuflen(loc, 1) == 1) {
    const int written = convert_run(loc, upper, bytes, length, bytes, length, true);
    s[written] = '\0';
    return;
  }
  const int size = gl_case_conv_outbuflen(loc, length);
  auto *buffer = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(size)));
  if (buffer == nullptr) return;
  const int written = convert_run(loc, upper, bytes, length, buffer, length, false);
  std::memcpy(s, buffer, static_cast<size_t>(written));
  s[written] = '\0';
  std::free(buffer);
}

void rdownshift(char *s) { rcaseshift(os_case_lower, s); }

void rupshift(char *s) { rcaseshift(os_case_upper, s); }

int gdownshift(char *s) {
  if (s == nullptr) {
    gerrno = -7;
    return -1;
  }
  rdownshift(s);
  gerrno = 0;
  return 0;
}

int gupshift(char *s) {
  if (s == nullptr) {
    gerrno = -7;
    return -1;
  }
  rupshift(s);
  gerrno = 0;
  return 0;
}

int sqlcaseshift(int mode, const char *input, char *output, int n) {
  const bool upper = mode == os_case_upper;
  return convert_sized(input, output, n,
                       [upper](gl_locale *, const unsigned char *, int) { return upper; });
}

/* A word is a run of letters and digits; its first letter goes upper. */
int sqlinitcap(const char *input, char *output, int n) {
  bool in_word = false;
  return convert_sized(input, output, n, [&in_word](gl_locale *loc, const unsigned char *s, int r) {
    const bool letter = char_class(loc, s, r, GL_CLASS_ALPHA) != 0;
    const bool word = letter || char_class(loc, s, r, GL_CLASS_DIGIT) != 0;
    const bool upper = letter && !in_word;
    in_word = word;
    return upper;
  });
}

char *rbasename(const char *path) {
  if (path == nullptr) return nullptr;
  gls_env *env = CheckGlsEnv();
  gl_locale *loc = env != nullptr ? env->locale : nullptr;
  const bool walk = loc != nullptr && loc->single_byte != 1 && env->state != nullptr &&
                    env->state->initialised != 0;
  const char *base = path;
  const auto *p = reinterpret_cast<const unsigned char *>(path);
  const int length = static_cast<int>(std::strlen(path));
  for (int i = 0; i < length;) {
    int step = 1;
    if (walk) {
      step = _dvz_gl_full_mblen(loc, p + i, length - i);
      if (step <= 0) step = 1;
    }
    if (step == 1 && path[i] == '/') base = path + i + 1;
    i += step;
  }
  return const_cast<char *>(base);
}

}  // extern "C"
