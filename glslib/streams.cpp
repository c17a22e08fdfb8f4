/*
** Characters and lines of a locale's code set through the host's streams:
** one character read or written through byte callbacks (gl_getmb,
** gl_putmb), the callbacks over the host's stream services (local_fgetc,
** local_fputc), and characters, strings and lines read from and written
** to a stream in the multibyte and the wide form.
**
** Called by the client library. Calls the host services only (slots 3, 4,
** 5 and 11: feof, ferror, fgetc, fwrite), never the platform's stdio, and
** the character layer to tell where a character ends.
*/

#include "strings_internal.h"

#include <algorithm>
#include <cstring>

namespace {

using glslib::chars::decode_at;
using glslib::chars::max_char_length;
using glslib::chars::set_error;
using glslib::chars::walk_result;
using glslib::chars::walk_status;
using glslib::strings::is_newline;
using glslib::strings::terminator_length;

constexpr gl_wchar no_wchar = static_cast<gl_wchar>(-1);

/* After gl_getmb failed reading the stream: a read that ended because of a
** stream error is 13; with strange_eof, one that ended with neither flag
** set is 17. An invalid character keeps its 1. */
void classify_read_failure(gl_locale *loc, FILE *stream, bool strange_eof) {
  const int error = *_gl_ext_errno(loc);
  if (error != GL_EEOF && error != GL_EINVAL) return;
  if (_gl_ext_ferror(stream) != 0) {
    set_error(loc, GL_EIO);
  } else if (strange_eof && _gl_ext_feof(stream) == 0) {
    set_error(loc, GL_ESTRANGEEOF);
  }
}

/* gl_putmb and _dvz_gl_putmb; null_as_terminator: a null character is
** written as the terminator's zero bytes. */
int put_char(gl_locale *loc, const unsigned char *s, int n, gl_mb_writer writer, FILE *stream,
             int *len, bool null_as_terminator) {
  if (len != nullptr) *len = 0;
  if (s == nullptr || writer == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return -1;
  }
  const int limit = n < 0 ? gl_mb_loc_max(loc) : n;
  int length = 1;
  if (loc->single_byte == 1) {
    if (limit < 1) {
      set_error(loc, GL_EINVAL);
      return -1;
    }
  } else {
    length = _dvz_gl_full_mblen(loc, s, limit);
    if (length < 0) return -1;
  }
  static constexpr unsigned char zeros[max_char_length] = {};
  const unsigned char *bytes = s;
  if (null_as_terminator && std::all_of(s, s + length, [](unsigned char b) { return b == 0; })) {
    bytes = zeros;
    length = terminator_length(loc);
  }
  for (int i = 0; i < length; ++i) {
    if (writer(bytes[i], stream) == -1) {
      set_error(loc, GL_EIO);
      return -1;
    }
    if (len != nullptr) *len = i + 1;
  }
  return 0;
}

}  // namespace

extern "C" {

int local_fgetc(FILE *stream) { return _gl_ext_fgetc(stream); }

int local_fputc(int byte, FILE *stream) {
  const unsigned char b = static_cast<unsigned char>(byte);
  return _gl_ext_fwrite(&b, 1, 1, stream) == 1 ? 0 : -1;
}

int gl_getmb(gl_locale *loc, unsigned char *buf, gl_mb_reader reader, FILE *stream, int *len) {
  if (len != nullptr) *len = 0;
  if (buf == nullptr || reader == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return -1;
  }
  for (int count = 0; count < max_char_length;) {
    const int byte = reader(stream);
    if (byte < 0) {
      set_error(loc, count == 0 ? GL_EEOF : GL_EINVAL);
      return -1;
    }
    buf[count++] = static_cast<unsigned char>(byte);
    if (len != nullptr) *len = count;
    if (loc->single_byte == 1) return 0;
    const walk_result f = decode_at(loc, buf, count);
    if (f.status == walk_status::found) return 0;
    if (f.status == walk_status::invalid) break;
  }
  set_error(loc, GL_EILSEQ);
  return -1;
}

int gl_putmb(gl_locale *loc, const unsigned char *s, int n, gl_mb_writer writer, FILE *stream,
             int *len) {
  return put_char(loc, s, n, writer, stream, len, true);
}

int _dvz_gl_putmb(gl_locale *loc, const unsigned char *s, int n, gl_mb_writer writer, FILE *stream,
                  int *len) {
  return put_char(loc, s, n, writer, stream, len, false);
}

int gl_full_fgetmb(gl_locale *loc, unsigned char *buf, FILE *stream) {
  if (stream == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return -1;
  }
  int len = 0;
  if (gl_getmb(loc, buf, local_fgetc, stream, &len) == 0) return len;
  classify_read_failure(loc, stream, false);
  return -1;
}

gl_wchar gl_full_fgetwc(gl_locale *loc, FILE *stream) {
  if (stream == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return no_wchar;
  }
  unsigned char buf[max_char_length];
  int len = 0;
  if (gl_getmb(loc, buf, local_fgetc, stream, &len) != 0) {
    classify_read_failure(loc, stream, true);
    return no_wchar;
  }
  gl_wchar wc = 0;
  for (int i = 0; i < len; ++i)
    wc = (wc << 8) | buf[i];
  return wc;
}

unsigned char *gl_fputmb(gl_locale *loc, const unsigned char *s, FILE *stream) {
  int len = 0;
  return gl_putmb(loc, s, -1, local_fputc, stream, &len) == 0 ? const_cast<unsigned char *>(s)
                                                              : nullptr;
}

gl_wchar gl_fputwc(gl_locale *loc, gl_wchar wc, FILE *stream) {
  unsigned char bytes[max_char_length];
  int length = 1;
  if (loc->single_byte == 1) {
    if (wc > 0xFFu) {
      set_error(loc, GL_EILSEQ);
      return no_wchar;
    }
    bytes[0] = static_cast<unsigned char>(wc);
  } else {
    length = gl_full_wctomb(loc, bytes, wc);
    if (length < 0) return no_wchar;
  }
  int len = 0;
  return gl_putmb(loc, bytes, length, local_fputc, stream, &len) == 0 ? wc : no_wchar;
}

int gl_fputmbs(gl_locale *loc, const unsigned char *s, FILE *stream) {
  const int bytes = gl_mbsbytes_nt(loc, s);
  if (bytes < 0) return -1;
  if (_gl_ext_fwrite(s, 1, static_cast<size_t>(bytes), stream) != static_cast<size_t>(bytes)) {
    set_error(loc, GL_EIO);
    return -1;
  }
  return 0;
}

int gl_fputwcs(gl_locale *loc, const gl_wchar *wcs, FILE *stream) {
  if (wcs == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return -1;
  }
  for (; *wcs != 0; ++wcs) {
    if (gl_fputwc(loc, *wcs, stream) == no_wchar) return -1;
  }
  return 0;
}

unsigned char *gl_fgetmbs(gl_locale *loc, unsigned char *buf, int size, FILE *stream) {
  if (buf == nullptr || stream == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return nullptr;
  }
  const int term = terminator_length(loc);
  if (size < term) {
    set_error(loc, GL_E2BIG);
    return nullptr;
  }
  int used = 0;
  /* Every way out terminates what was read: there is always room, since a
  ** character is taken only when it fits with the terminator. */
  auto fail = [&](int error) {
    if (error != GL_ENOERR) set_error(loc, error);
    gl_mbsterm(loc, buf + used);
    return nullptr;
  };
  for (;;) {
    unsigned char ch[max_char_length];
    int length = 1;
    if (loc->single_byte == 1) {
      /* A byte 0xFF is a character unless the stream is at its end. */
      const int byte = _gl_ext_fgetc(stream);
      if ((byte == -1 || byte == 0xFF) && _gl_ext_feof(stream) != 0) return fail(GL_EEOF);
      if (byte == -1 && _gl_ext_ferror(stream) != 0) return fail(GL_EIO);
      ch[0] = static_cast<unsigned char>(byte);
    } else {
      length = gl_full_fgetmb(loc, ch, stream);
      if (length < 0) return fail(GL_ENOERR);
    }
    if (used + length + term > size) return fail(GL_E2BIG);
    std::memcpy(buf + used, ch, static_cast<std::size_t>(length));
    used += length;
    if (is_newline(loc, ch, length)) {
      gl_mbsterm(loc, buf + used);
      return buf;
    }
  }
}

gl_wchar *gl_fgetwcs(gl_locale *loc, gl_wchar *buf, int n, FILE *stream) {
  if (buf == nullptr || stream == nullptr) {
    set_error(loc, GL_ENULLPTR);
    return nullptr;
  }
  if (n < 1) {
    set_error(loc, GL_E2BIG);
    return nullptr;
  }
  for (int used = 0;;) {
    const gl_wchar wc = gl_full_fgetwc(loc, stream);
    if (wc != no_wchar && used + 2 > n) set_error(loc, GL_E2BIG);
    if (wc == no_wchar || used + 2 > n) {
      buf[used] = 0;
      return nullptr;
    }
    buf[used++] = wc;
    if (wc == 10) {
      buf[used] = 0;
      return buf;
    }
  }
}

}  // extern "C"
