/*
** Our STREAMS layer over AF_UNIX SOCK_SEQPACKET sockets: the message calls
** the STREAMS-pipe driver of the association services makes (putmsg,
** getmsg, isastream, the I_SETSIG request) and the open of a stream path.
**
** A stream is a connected SEQPACKET socket; one STREAMS message is one
** record: an 8-byte header of our own (priority, control length), the
** control bytes, then the data bytes (platform/README.md has the layout;
** the server side must keep it byte for byte). Messages arrive in the
** order they were sent, whatever their priority. One thread.
*/
#ifndef DVZ_PLATFORM_STREAMS_H
#define DVZ_PLATFORM_STREAMS_H

#include "tli.h" /* S_INPUT, the events of the signal request */

extern "C" {

/* One part of a message: room for maxlen bytes at buf, len of them used.
** A part with len (putmsg) or maxlen (getmsg) below 1 holds no bytes;
** so does a null part. */
struct strbuf {
  int maxlen;
  int len;
  char *buf;
};

/* putmsg flags and getmsg's returned flags: a high-priority message. */
#define RS_HIPRI 1

/* The signal request of str_ioctl (its argument: S_INPUT or 0). */
#define I_SETSIG (('S' << 8) | 011)

/* Size of the record header and the values of its first byte. */
#define STR_HEADER_SIZE 8
#define STR_BAND_NORMAL 0
#define STR_BAND_HIPRI 1

/* Opens path with oflag: a path that is a socket is connected to as a
** stream (a new SEQPACKET socket; an interrupted connect is made again);
** any other path is opened as a file, so that isastream can refuse it.
** Returns the descriptor, or -1 with errno. */
int str_open(const char *path, int oflag);

/* 1 when fd is a stream (an AF_UNIX SOCK_SEQPACKET socket), 0 when it is
** not, -1 with errno EBADF for a descriptor that is not open. */
int isastream(int fd);

/* Sends one message: the control part (ctlptr, may be null) and the data
** part (dataptr, may be null); flags 0 (normal) or RS_HIPRI. A message
** with no bytes in either part sends nothing. Never raises SIGPIPE.
** Returns 0, or -1 with errno (EINVAL bad flags or bytes without a
** buffer, EPIPE the peer has gone, EAGAIN on a non-blocking stream that
** is full, EMSGSIZE too long for one record, EINTR, ...). */
int putmsg(int fd, const struct strbuf *ctlptr, const struct strbuf *dataptr, int flags);

/* Receives the next message, whatever its priority (*flagsp must be 0 on
** entry; it is set to RS_HIPRI for a high-priority message, else 0). The
** parts go to ctlptr and dataptr (either may be null: no room) and their
** lengths into len. At hang-up both lengths are 0 (flags 0); an empty
** record, which putmsg never sends, reads as hang-up too.
** Returns 0, or -1 with errno: EBADMSG when a part does not fit its room
** or the record is malformed (the record is consumed whole, the next one
** stays intact; lengths -1), EAGAIN on a non-blocking stream with nothing
** there, EINTR, EINVAL for *flagsp other than 0, ... */
int getmsg(int fd, struct strbuf *ctlptr, struct strbuf *dataptr, int *flagsp);

/* The ioctl requests of streams: I_SETSIG only, with S_INPUT (SIGPOLL to
** this process on input) or 0 (no signal), as tli_setsig does for TLI
** endpoints. Returns 0, or -1 with errno (EINVAL for another request). */
int str_ioctl(int fd, int request, int arg);
}

#endif
