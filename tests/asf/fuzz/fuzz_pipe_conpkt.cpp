/*
** Fuzz target: the connect packet the back-end side of the pipe transport
** reads from its standard input. The first byte chooses the receive
** buffer's size (small ones reach the room limits), the rest is what the
** client wrote before closing its end. A success holds at least one byte
** and never more than was written or than the buffer; a failure is the
** connect-packet status; nothing is read past what the header asks for.
*/
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../../../asf/net/pipe_driver.h"
#include "asf_tl.h"
#include "fuzz_environment.h"

namespace {

[[noreturn]] void fail(const char *what, long value) {
  std::fprintf(stderr, "fuzz_pipe_conpkt: %s (%ld)\n", what, value);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 60000) return 0;
  const int32_t room = data[0] < 128 ? 2 + data[0] : PIPE_BUFSIZE;
  const size_t n = size - 1;
  int fds[2];
  if (pipe(fds) != 0) fail("pipe", errno);
  if (n > 0 && write(fds[1], data + 1, n) != static_cast<ssize_t>(n)) fail("write", errno);
  close(fds[1]);

  std::vector<char> area(static_cast<size_t>(room));
  rscbufctl buf {};
  buf.buff = area.data();
  buf.lbuff = room;
  buf.p = area.data();
  buf.size = room;
  buf.type = -2;
  pipectl pc = {fds[0], -1, 0, 0, -1};
  drvblock drv {};
  drv.priv = &pc;
  drv.word2 = PIPE_CONPKT_PENDING;
  asfsvcctl ctl {};
  ctl.timeout = -1;
  rscbufctl *slot = &buf;
  const int rc = recvpip(&drv, &slot, &ctl);
  if ((drv.word2 & PIPE_CONPKT_PENDING) != 0) fail("still pending", 0);
  if (rc == 0) {
    if (buf.p != buf.buff) fail("p not at buff", 0);
    if (buf.size < 1 || buf.size > room || static_cast<size_t>(buf.size) > n)
      fail("size", buf.size);
    if (std::memcmp(buf.p, data + 1, static_cast<size_t>(buf.size)) != 0) fail("bytes", 0);
  } else if (ctl.asfcode != ASF_ERR_BADADDR) {
    fail("status", ctl.asfcode);
  }
  close(fds[0]);
  return 0;
}
