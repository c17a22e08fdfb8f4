/*
** The small-file reader of the association services: unbuffered file
** primitives and the buffered reader `fbuf` with its line and token
** readers. Used by the sqlhosts services here and by the login checks for
** .netrc and the trusted-host files.
**
** The end of the data is where a read returns nothing: every byte value,
** 0xFF included, is an ordinary character. Descriptor 0 is a file like any
** other (a daemon may have closed its standard input); -1 means none.
*/
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstring>

#include "asf_memory.h"
#include "asf_sqlhosts.h"

namespace {

/* The value of fbuf::last after the end of the data. */
constexpr int end_of_data = -1;

/* Open flags of a mode text. */
struct open_mode {
  const char *mode;
  int flags;
};
constexpr open_mode open_modes[] = {
    {"r", O_RDONLY},
    {"w", O_WRONLY},
    {"a", O_WRONLY | O_APPEND | O_CREAT},
};

bool is_white(int c) { return c >= 0 && std::isspace(static_cast<unsigned char>(c)); }

/* The next character of f (0-255), or end_of_data. */
int next_char(fbuf *f) {
  if (f->last == end_of_data) return end_of_data;
  if (f->pos < 1 || f->pos >= f->loaded) {
    if (asf_ldfbuf(f) != 0) {
      f->last = end_of_data;
      return end_of_data;
    }
  }
  f->last = f->buffer[f->pos++];
  return f->last;
}

/* The first character after white space, or end_of_data. */
int skip_white(fbuf *f) {
  int c;
  do {
    c = next_char(f);
  } while (is_white(c));
  return c;
}

}  // namespace

extern "C" {

int asf_fopen(const char *path, const char *mode) {
  if (path == nullptr || mode == nullptr) return -1;
  int flags = O_RDWR;
  for (const open_mode &m : open_modes)
    if (std::strcmp(mode, m.mode) == 0) flags = m.flags;
  return open(path, flags, 0644);
}

int asf_fclose(int fd) { return close(fd); }

int asf_rewind(int fd) { return lseek(fd, 0, SEEK_SET) < 0 ? -1 : 0; }

int asf_fread(void *buf, int size, int count, int fd) {
  if (size < 0 || count < 0) return -1;
  return static_cast<int>(read(fd, buf, size_t(size) * size_t(count)));
}

fbuf *asf_opfbuf(const char *path, const char *mode, int pool) {
  int mempool = pool == 1 ? asf_pool_temp : asf_pool_global;
  auto *f = static_cast<fbuf *>(asf_alloc(mempool, sizeof(fbuf)));
  if (f == nullptr) return nullptr;
  f->buffer = static_cast<unsigned char *>(asf_alloc(mempool, ASF_FBUF_SIZE));
  if (f->buffer == nullptr) {
    asf_free(mempool, f);
    return nullptr;
  }
  f->fd = asf_fopen(path, mode);
  if (f->fd < 0) {
    asf_free(mempool, f->buffer);
    asf_free(mempool, f);
    return nullptr;
  }
  f->bufsize = ASF_FBUF_SIZE;
  f->pos = -1;
  f->last = 0;
  f->pool = pool;
  f->loaded = 0;
  return f;
}

int asf_clfbuf(fbuf *f) {
  if (f == nullptr) return 0;
  int mempool = f->pool == 1 ? asf_pool_temp : asf_pool_global;
  int rc = 0;
  asf_free(mempool, f->buffer);
  if (f->fd >= 0) rc = asf_fclose(f->fd);
  asf_free(mempool, f);
  return rc;
}

int asf_ldfbuf(fbuf *f) {
  if (f == nullptr || f->fd < 0) return -1;
  f->pos = 0;
  int n = asf_fread(f->buffer, 1, f->bufsize, f->fd);
  f->loaded = n > 0 ? n : 0;
  return n > 0 ? 0 : -1;
}

void asf_rwfbuf(fbuf *f) {
  if (f == nullptr) return;
  f->pos = -1;
  f->last = 0;
  f->loaded = 0;
  if (f->fd >= 0) asf_rewind(f->fd);
}

int asf_fgetline(fbuf *f, char *out, int max) {
  if (f == nullptr || out == nullptr || max < 0) return -1;
  int c = skip_white(f);
  if (c == end_of_data) {
    out[0] = '\0';
    return -1;
  }
  int n = 0;
  for (; c != end_of_data && c != '\n'; c = next_char(f))
    if (n < max) out[n++] = static_cast<char>(c);
  out[n] = '\0';
  return n;
}

int asf_ftoken(fbuf *f, char *out, int size) {
  if (f == nullptr || out == nullptr || size < 1) return -1;
  int c = skip_white(f);
  if (c == end_of_data) {
    out[0] = '\0';
    return -1;
  }
  int n = 0;
  for (; c != end_of_data && !is_white(c); c = next_char(f))
    if (n < size - 1) out[n++] = static_cast<char>(c);
  out[n] = '\0';
  return n;
}

int asf_stoken(char **pos, char *out, int max) {
  if (pos == nullptr || *pos == nullptr || out == nullptr || max < 0) return -1;
  char *p = *pos;
  while (is_white(static_cast<unsigned char>(*p)))
    ++p;
  if (*p == '\0') {
    out[0] = '\0';
    *pos = p;
    return -1;
  }
  int n = 0;
  for (; *p != '\0' && !is_white(static_cast<unsigned char>(*p)); ++p)
    if (n < max) out[n++] = *p;
  out[n] = '\0';
  *pos = p;
  return n;
}

}  // extern "C"
