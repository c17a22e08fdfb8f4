/*
** The STREAMS layer over AF_UNIX SOCK_SEQPACKET sockets (streams.h): the
** open of a stream path, isastream, putmsg, getmsg and the I_SETSIG
** request. Called by the STREAMS-pipe driver of the association services
** (asf/net/strpipe_driver.cpp); calls only the C library and the signal
** request of our TLI layer.
**
** One message is one record: the 8-byte header (byte 0 the band, bytes 1-3
** zero, bytes 4-7 the control length, big-endian), the control bytes, the
** data bytes. The record boundary is the socket's, so a message is never
** split or merged. A record that does not fit the caller's room is
** consumed whole and reported (EBADMSG): never handed out cut, never left
** in front of the next one.
*/
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "streams.h"
#include "tli.h"

namespace {

/* The control length word, big-endian at offset 4 of the header. (The
** platform layer calls only the C library, so these two stay here.) */
void store_u32_be(uint32_t value, unsigned char *to) {
  to[0] = static_cast<unsigned char>(value >> 24);
  to[1] = static_cast<unsigned char>(value >> 16);
  to[2] = static_cast<unsigned char>(value >> 8);
  to[3] = static_cast<unsigned char>(value);
}
uint32_t load_u32_be(const unsigned char *from) {
  return (uint32_t {from[0]} << 24) | (uint32_t {from[1]} << 16) | (uint32_t {from[2]} << 8) |
         from[3];
}

constexpr size_t ctl_length_offset = 4;

/* Bytes a putmsg part carries (0 for a null part or a length below 1), or
** -1 when it claims bytes without a buffer. */
int part_bytes(const strbuf *part) {
  if (part == nullptr || part->len <= 0) return 0;
  return part->buf == nullptr ? -1 : part->len;
}

/* Room of a getmsg part: 0 for a null part, no buffer or maxlen below 1. */
size_t part_room(const strbuf *part) {
  if (part == nullptr || part->buf == nullptr || part->maxlen <= 0) return 0;
  return static_cast<size_t>(part->maxlen);
}

void set_lengths(strbuf *ctlptr, strbuf *dataptr, int ctl_len, int data_len) {
  if (ctlptr != nullptr) ctlptr->len = ctl_len;
  if (dataptr != nullptr) dataptr->len = data_len;
}

/* Takes the record at the head of fd's queue off it, whatever its size (a
** SEQPACKET read drops what does not fit). The record is known to be
** there, so this does not block. */
void discard_record(int fd) {
  unsigned char byte;
  while (recv(fd, &byte, 1, MSG_DONTWAIT) == -1 && errno == EINTR) {}
}

/* A new SEQPACKET socket connected to the socket at path, with the
** O_NONBLOCK and O_CLOEXEC of oflag. An interrupted connect starts over
** on a fresh socket. Returns the descriptor, or -1 with errno. */
int connect_stream(const char *path, int oflag) {
  struct sockaddr_un sa {};
  sa.sun_family = AF_UNIX;
  const size_t n = std::strlen(path);
  if (n >= sizeof sa.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(sa.sun_path, path, n + 1);
  const int type = SOCK_SEQPACKET | ((oflag & O_CLOEXEC) != 0 ? SOCK_CLOEXEC : 0);
  for (;;) {
    int fd = socket(AF_UNIX, type, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) == 0) {
      if ((oflag & O_NONBLOCK) != 0 && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return -1;
      }
      return fd;
    }
    const int saved = errno;
    close(fd);
    errno = saved;
    if (saved != EINTR) return -1;
  }
}

}  // namespace

extern "C" {

int str_open(const char *path, int oflag) {
  if (path == nullptr) {
    errno = EFAULT;
    return -1;
  }
  struct stat st {};
  if (stat(path, &st) == 0 && S_ISSOCK(st.st_mode)) return connect_stream(path, oflag);
  return open(path, oflag);
}

int isastream(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return -1;
  if (!S_ISSOCK(st.st_mode)) return 0;
  int type = 0, domain = 0;
  socklen_t len = sizeof type;
  if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0) return 0;
  len = sizeof domain;
  if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &len) != 0) return 0;
  return type == SOCK_SEQPACKET && domain == AF_UNIX ? 1 : 0;
}

int putmsg(int fd, const struct strbuf *ctlptr, const struct strbuf *dataptr, int flags) {
  const int ctl_bytes = part_bytes(ctlptr);
  const int data_bytes = part_bytes(dataptr);
  if ((flags != 0 && flags != RS_HIPRI) || ctl_bytes < 0 || data_bytes < 0) {
    errno = EINVAL;
    return -1;
  }
  if (ctl_bytes == 0 && data_bytes == 0) return fcntl(fd, F_GETFD) == -1 ? -1 : 0;
  unsigned char header[STR_HEADER_SIZE] = {};
  header[0] = flags == RS_HIPRI ? STR_BAND_HIPRI : STR_BAND_NORMAL;
  store_u32_be(static_cast<uint32_t>(ctl_bytes), header + ctl_length_offset);
  struct iovec iov[3] = {
      {header, sizeof header},
      {ctl_bytes > 0 ? ctlptr->buf : nullptr, static_cast<size_t>(ctl_bytes)},
      {data_bytes > 0 ? dataptr->buf : nullptr, static_cast<size_t>(data_bytes)},
  };
  struct msghdr m {};
  m.msg_iov = iov;
  m.msg_iovlen = 3;
  return sendmsg(fd, &m, MSG_NOSIGNAL) < 0 ? -1 : 0;
}

int getmsg(int fd, struct strbuf *ctlptr, struct strbuf *dataptr, int *flagsp) {
  if (flagsp == nullptr || *flagsp != 0) {
    errno = EINVAL;
    return -1;
  }
  unsigned char header[STR_HEADER_SIZE];
  // MSG_TRUNC makes the peek report the whole record's length.
  const ssize_t n = recv(fd, header, sizeof header, MSG_PEEK | MSG_TRUNC);
  if (n < 0) return -1;
  if (n == 0) {
    // End of file; an empty record (a peer outside the framing) goes too.
    discard_record(fd);
    set_lengths(ctlptr, dataptr, 0, 0);
    return 0;
  }
  const size_t total = static_cast<size_t>(n);
  const bool framed = total >= STR_HEADER_SIZE &&
                      (header[0] == STR_BAND_NORMAL || header[0] == STR_BAND_HIPRI) &&
                      header[1] == 0 && header[2] == 0 && header[3] == 0;
  const size_t ctl_len = framed ? load_u32_be(header + ctl_length_offset) : 0;
  if (!framed || ctl_len > total - STR_HEADER_SIZE || ctl_len > part_room(ctlptr) ||
      total - STR_HEADER_SIZE - ctl_len > part_room(dataptr)) {
    discard_record(fd);
    set_lengths(ctlptr, dataptr, -1, -1);
    errno = EBADMSG;
    return -1;
  }
  const size_t data_len = total - STR_HEADER_SIZE - ctl_len;
  struct iovec iov[3] = {
      {header, sizeof header},
      {ctl_len > 0 ? ctlptr->buf : nullptr, ctl_len},
      {data_len > 0 ? dataptr->buf : nullptr, data_len},
  };
  struct msghdr m {};
  m.msg_iov = iov;
  m.msg_iovlen = 3;
  ssize_t got;
  do {
    got = recvmsg(fd, &m, MSG_DONTWAIT);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return -1;
  set_lengths(ctlptr, dataptr, static_cast<int>(ctl_len), static_cast<int>(data_len));
  *flagsp = header[0] == STR_BAND_HIPRI ? RS_HIPRI : 0;
  return 0;
}

int str_ioctl(int fd, int request, int arg) {
  if (request != I_SETSIG) {
    errno = EINVAL;
    return -1;
  }
  return tli_setsig(fd, arg);
}

}  // extern "C"
