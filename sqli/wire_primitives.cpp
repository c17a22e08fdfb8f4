/*
** The wire forms of the SQLI protocol: integers, floats, DECIMAL, INT8,
** byte strings, blob descriptors and collections written into and read out
** of a connection's buffers (wire_io.cpp), and the skips of unwanted
** input. Every field is big-endian with no alignment (dvz_be.h and the
** value library's stored forms); an odd-length byte string takes one zero
** pad byte.
**
** Fast path: a value that fits in the room left (or the bytes left) is
** stored or loaded in place; otherwise it is staged and goes through
** _iwrite/_iread, which cross buffer boundaries. Both give the same bytes.
*/
#include <array>
#include <cstring>
#include <memory>

#include "dvz_be.h"
#include "gen_collection_stored.h"
#include "gen_decimal.h"
#include "gen_int8.h"
#include "sqli_context.h"
#include "sqli_errors.h"
#include "sqli_seams.h"
#include "sqli_wire.h"

namespace {

/* Capability bit of long (128-byte) identifiers. */
constexpr int32_t long_identifiers = 0x200;
/* Largest packed DECIMAL a reply may carry, and the length of no value. */
constexpr int decimal_stage = 20;
constexpr int decimal_absent = 65535;
constexpr int int8_bytes = 10;
constexpr int pptr_bytes = 8;
constexpr int skip_chunk = 128;
/* The message code of a blob chunk. */
constexpr int blob_chunk_code = 39;

/* Writes the n bytes that store() fills, in place when they fit. */
template <int n, typename Store>
void put_fixed(pipe_vbles *pipe, Store store) {
  if (pipe->send_broken == 0 && pipe->outleft >= n) {
    store(pipe->outptr);
    pipe->outptr += n;
    pipe->outleft -= n;
    return;
  }
  std::array<unsigned char, n> staged {};
  store(staged.data());
  _iwrite(staged.data(), n, pipe);
}

/* Reads n bytes and returns load() of them, in place when they are there. */
template <int n, typename Load>
auto get_fixed(pipe_vbles *pipe, Load load) {
  if (pipe->recv_failed == 0 && pipe->inleft >= n) {
    const unsigned char *at = pipe->inptr;
    pipe->inptr += n;
    pipe->inleft -= n;
    return load(at);
  }
  std::array<unsigned char, n> staged {};
  _iread(staged.data(), n, pipe);
  return load(staged.data());
}

void put_pad_if_odd(int n, pipe_vbles *pipe) {
  if ((n & 1) != 0) _iputpad(pipe);
}

bool long_ids(const pipe_vbles *pipe) {
  return pipe->conn != nullptr && (pipe->conn->capabilities & long_identifiers) != 0;
}

}  // namespace

void _iputbyte(int value, pipe_vbles *pipe) {
  put_fixed<1>(pipe, [value](unsigned char *to) { to[0] = static_cast<unsigned char>(value); });
}

int _igetbyte(pipe_vbles *pipe) {
  return get_fixed<1>(pipe, [](const unsigned char *at) { return static_cast<int>(at[0]); });
}

void _iputint(int value, pipe_vbles *pipe) {
  put_fixed<2>(pipe,
               [value](unsigned char *to) { dvz_st_be_u16(static_cast<uint16_t>(value), to); });
}

int _igetint(pipe_vbles *pipe) {
  return get_fixed<2>(pipe,
                      [](const unsigned char *at) { return static_cast<int>(dvz_ld_be_i16(at)); });
}

void _iputunsigned(unsigned value, pipe_vbles *pipe) { _iputint(static_cast<int>(value), pipe); }

int _igetunsigned(pipe_vbles *pipe) {
  return get_fixed<2>(pipe,
                      [](const unsigned char *at) { return static_cast<int>(dvz_ld_be_u16(at)); });
}

void _iputlong(int32_t value, pipe_vbles *pipe) {
  put_fixed<4>(pipe, [value](unsigned char *to) { dvz_st_be_i32(value, to); });
}

int32_t _igetlong(pipe_vbles *pipe) {
  return get_fixed<4>(pipe, [](const unsigned char *at) { return dvz_ld_be_i32(at); });
}

void _iputpptr(int32_t value, pipe_vbles *pipe) {
  put_fixed<pptr_bytes>(pipe, [value](unsigned char *to) {
    dvz_st_be_i32(value, to);
    std::memset(to + 4, 0, 4);
  });
}

int32_t _igetpptr(pipe_vbles *pipe) {
  return get_fixed<pptr_bytes>(pipe, [](const unsigned char *at) { return dvz_ld_be_i32(at); });
}

void _iputint8(const dvz_int8_t *value, pipe_vbles *pipe) {
  put_fixed<int8_bytes>(pipe, [value](unsigned char *to) { stint8(value, to); });
}

void _igetint8(dvz_int8_t *value, pipe_vbles *pipe) {
  get_fixed<int8_bytes>(pipe, [value](const unsigned char *at) {
    ldint8(at, value);
    return 0;
  });
}

void _iputfloat(double value, pipe_vbles *pipe) {
  const int format = pipe->float_format;
  put_fixed<4>(pipe, [value, format](unsigned char *to) { network_stfloat(value, to, format); });
}

double _igetfloat(pipe_vbles *pipe) {
  const int format = pipe->float_format;
  return get_fixed<4>(pipe,
                      [format](const unsigned char *at) { return network_ldfloat(at, format); });
}

void _iputdbl(double value, pipe_vbles *pipe) {
  const int format = pipe->float_format;
  put_fixed<8>(pipe, [value, format](unsigned char *to) { network_stdbl(value, to, format); });
}

double _igetdbl(pipe_vbles *pipe) {
  const int format = pipe->float_format;
  return get_fixed<8>(pipe,
                      [format](const unsigned char *at) { return network_lddbl(at, format); });
}

void _iputdecimal(const dec_t *value, pipe_vbles *pipe) {
  const int pairs = value->npairs < 0 ? 0 : (value->npairs > DECSIZE ? DECSIZE : value->npairs);
  const int n = pairs + 1;
  const int whole = 2 + n + (n & 1);
  if (pipe->send_broken == 0 && pipe->outleft >= whole) { /* in place */
    dvz_st_be_u16(static_cast<uint16_t>(n), pipe->outptr);
    stdecimal(value, pipe->outptr + 2, n);
    if ((n & 1) != 0) pipe->outptr[2 + n] = 0;
    pipe->outptr += whole;
    pipe->outleft -= whole;
    return;
  }
  _iputunsigned(static_cast<unsigned>(n), pipe);
  std::array<unsigned char, DECSIZE + 1> packed {};
  stdecimal(value, packed.data(), n);
  _iwrite(packed.data(), n, pipe);
  put_pad_if_odd(n, pipe);
}

/* The length word decides: 65535 is no value, above the staging area a
** corrupt stream (nothing more is read: the rest cannot be framed). */
int _igetdecimal(dec_t *value, pipe_vbles *pipe) {
  const int n = _igetunsigned(pipe);
  if (n == decimal_absent) return n;
  if (n > decimal_stage) {
    if (SQLCODE == 0) _iqseterr(SQLI_E_PROTOCOL);
    return n;
  }
  const int whole = n + (n & 1);
  if (pipe->recv_failed == 0 && pipe->inleft >= whole) { /* in place */
    lddecimal(pipe->inptr, n, value);
    pipe->inptr += whole;
    pipe->inleft -= whole;
    return n;
  }
  std::array<unsigned char, decimal_stage> packed {};
  _iread(packed.data(), n, pipe);
  if ((n & 1) != 0) _igetpad(pipe);
  lddecimal(packed.data(), n, value);
  return n;
}

void _iputlbuf(const char *bytes, int n, pipe_vbles *pipe) {
  if (n < 0) n = 0;
  const int whole = 2 + n + (n & 1);
  if (pipe->send_broken == 0 && pipe->outleft >= whole) { /* in place */
    dvz_st_be_u16(static_cast<uint16_t>(n), pipe->outptr);
    std::memcpy(pipe->outptr + 2, bytes, static_cast<size_t>(n));
    if ((n & 1) != 0) pipe->outptr[2 + n] = 0;
    pipe->outptr += whole;
    pipe->outleft -= whole;
    return;
  }
  _iputunsigned(static_cast<unsigned>(n), pipe);
  _iwrite(bytes, n, pipe);
  put_pad_if_odd(n, pipe);
}

void _iputpbuf(const char *bytes, int n, pipe_vbles *pipe) {
  if (n <= 0) return;
  _iwrite(bytes, n, pipe);
  put_pad_if_odd(n, pipe);
}

void _igetpbuf(char *bytes, int n, pipe_vbles *pipe) {
  if (n <= 0) return;
  const int whole = n + (n & 1);
  if (pipe->recv_failed == 0 && pipe->inleft >= whole) { /* in place */
    std::memcpy(bytes, pipe->inptr, static_cast<size_t>(n));
    pipe->inptr += whole;
    pipe->inleft -= whole;
    return;
  }
  _iread(bytes, n, pipe);
  if ((n & 1) != 0) _igetpad(pipe);
}

void _iputbuf(const char *bytes, int n, pipe_vbles *pipe) {
  if (n > 0) _iwrite(bytes, n, pipe);
}

void _igetbuf(char *bytes, int n, pipe_vbles *pipe) {
  if (n > 0) _iread(bytes, n, pipe);
}

void _iputblob(const tblob_desc_t *desc, pipe_vbles *pipe) {
  put_fixed<TBLOB_STORED_SIZE>(pipe, [desc](unsigned char *to) { tblobstore(desc, to); });
}

void _igetblob(tblob_desc_t *desc, pipe_vbles *pipe) {
  get_fixed<TBLOB_STORED_SIZE>(pipe, [desc](const unsigned char *at) {
    tblobload(desc, at);
    return 0;
  });
}

/*
** The value library's stored form is the wire form: its leading total is
** the length word L. Staged in one block (-406 recorded when there is no
** memory for it, and nothing written).
*/
void _iputcollection(const dvz_coll_t *value, pipe_vbles *pipe) {
  const int ids = long_ids(pipe) ? 1 : 0;
  const int32_t size = dvz_stcollection_size(value, ids);
  std::unique_ptr<char, void (*)(void *)> block(
      static_cast<char *>(sqli_alloc(static_cast<size_t>(size))), sqli_release);
  if (block == nullptr) {
    _iqseterr(SQLI_E_NOMEM);
    return;
  }
  stcollection(value, block.get(), ids);
  _iwrite(block.get(), size, pipe);
  put_pad_if_odd(static_cast<int>(dvz_ld_be_u32(block.get())), pipe);
}

void _iputpad(pipe_vbles *pipe) { _iputbyte(0, pipe); }

void _igetpad(pipe_vbles *pipe) { (void)_igetbyte(pipe); }

/* Skips bytes of input through a small scratch area. */
void sqli_skip_raw(int64_t bytes, pipe_vbles *pipe) {
  std::array<unsigned char, skip_chunk> scratch;
  while (bytes > 0 && pipe->recv_failed == 0) {
    const int chunk = bytes < skip_chunk ? static_cast<int>(bytes) : skip_chunk;
    _iread(scratch.data(), chunk, pipe);
    bytes -= chunk;
  }
}

void _igoblchars(int n, pipe_vbles *pipe) {
  if (n > 0) sqli_skip_raw(int64_t {n} + (n & 1), pipe);
}

void _igoblints(int n, pipe_vbles *pipe) {
  if (n > 0) sqli_skip_raw(int64_t {2} * n, pipe);
}

void _igoblint8s(int n, pipe_vbles *pipe) {
  if (n > 0) sqli_skip_raw(int64_t {int8_bytes} * n, pipe);
}

void _igobltblob(pipe_vbles *pipe) { sqli_skip_raw(TBLOB_STORED_SIZE, pipe); }

int _igoblblobs(int count, pipe_vbles *pipe) {
  for (int blob = 0; blob < count; ++blob) {
    for (;;) {
      if (_igetint(pipe) != blob_chunk_code) return -1;
      const int length = _igetunsigned(pipe);
      if (length == 0) break;
      _igoblchars(length, pipe);
    }
  }
  return 0;
}
