/*
** handshake.cpp: what follows every connect: the server's version text,
** from the number in the connect response or asked for with the version
** request, mapped through the version ladder onto the capability word,
** and the float format and VARCHAR padding that follow from it; the
** session environment message; and the server-information exchange.
*/
#include "sqli_handshake.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dvz_be.h"
#include "os_gentcb.h"
#include "os_stored.h"
#include "os_trace.h"
#include "sqli_reply.h"
#include "sqli_request.h"
#include "sqli_send.h"
#include "sqli_wire.h"

namespace {

/* One row of the version ladder: V at least `from` (and below `below`
** when given) gives `caps`. */
struct ladder_row {
  const char *from;
  const char *below;
  int32_t caps;
};
constexpr ladder_row version_ladder[] = {
    {"9.0310", nullptr, 0xfebd}, {"9.0308", nullptr, 0x3ebd}, {"9.0307", nullptr, 0x1ebd},
    {"9.0306", nullptr, 0xebd},  {"9.0305", nullptr, 0x6bd},  {"9.0304", nullptr, 0x2bd},
    {"9.0303", nullptr, 0xbd},   {"9.0301", nullptr, 0x3d},   {"9.03", nullptr, 0x1d},
    {"9.02", nullptr, 0xd},      {"9.00", nullptr, 0x5},      {"8.31", nullptr, 0x10001},
    {"7.30", "7.z", 0x143},      {"7.23", "7.z", 0x43},       {"7.22", "7.z", 0x3},
    {"6.00", nullptr, 0x1},
};

/* The version from which DVZ_PAD_VARCHAR may turn padding off. */
constexpr const char *pad_choice_version = "9.0311";

/* The highest version number the trace records. */
constexpr int32_t trace_version_max = SQDBG_MAX_VERSION;

/* Room of the server-information text and of the owner name. */
constexpr int info_text_keep = static_cast<int>(sizeof(sqli_srvinfo::text)) - 1;

/* Server-information item types. */
enum { info_item_version = 2, info_item_flags1 = 3, info_item_flags2 = 4 };

/* Sub-code of the environment message. */
constexpr int env_subcode = 6;

int even(int n) { return n + (n & 1); }

}  // namespace

void sqli_settle_float(sqli_conn *conn, int32_t caps, sqli_tcb *tcb) {
  int format = 0;
  if ((caps & sqli_cap_netfloat) != 0)
    format = 1;
  else if (sqli_float_as_decimal(tcb))
    format = 2;
  if (conn->io != nullptr) conn->io->float_format = format;
  dvzGEN_setFloatType(format);
}

namespace {

/* Once the version is settled: the general library's long-identifier flag,
** the float format and the padding flag of conn, from caps and the
** version text. */
void apply_caps(sqli_conn *conn, int32_t caps, sqli_tcb *tcb) {
  if ((caps & sqli_cap_longid) != 0) gset_dbver();
  sqli_settle_float(conn, caps, tcb);
  conn->varchar_pad = (caps & sqli_cap_varchar_pad) != 0 ? 1 : 0;
  if (stcmpr(conn->server_version_text, pad_choice_version) >= 0 &&
      getsesenv("DVZ_PAD_VARCHAR") != nullptr)
    conn->varchar_pad = 0;
}

/* The version request and its reply into text (sqli_version_size bytes,
** zeroed by the caller). 0, or -1 after the protocol-error path. */
int ask_version(char *text, sqli_tcb *tcb) {
  sqli_put16(sqli_outpipe(tcb), SQ_VERSION);
  _sqflip(tcb);
  return sqli_read_text_reply(tcb, SQR_VERSION, text, sqli_version_size - 1);
}

}  // namespace

int sqli_read_text_reply(sqli_tcb *tcb, int expect, char *dst, int keep) {
  pipe_vbles *pipe = sqli_outpipe(tcb);
  int code = sqli_reply_code(tcb);
  if (code != expect) {
    _sqproterr(tcb, code);
    return -1;
  }
  sqli_read_kept(dst, keep, _igetunsigned(pipe), pipe);
  code = _igetint(pipe);
  if (code != SQR_EOT) {
    _sqproterr(tcb, code);
    return -1;
  }
  return 0;
}

int sqli_read_kept(char *dst, int keep, int n, pipe_vbles *pipe) {
  const int kept = std::min(keep, n);
  if (kept > 0) _igetbuf(dst, kept, pipe);
  sqli_skip_raw(int64_t {n} - kept, pipe);
  if ((n & 1) != 0) _igetpad(pipe);
  return kept;
}

int32_t sqli_version_caps(const char *v) {
  for (const ladder_row &row : version_ladder)
    if (stcmpr(v, row.from) >= 0 && (row.below == nullptr || stcmpr(v, row.below) < 0))
      return row.caps;
  return 0;
}

void _sq_mkintverstr(int32_t number, char *out) {
  std::snprintf(out, sqli_version_size, "9.%04d", std::clamp(number, 0, 9999));
}

/* A text whose second and third characters are both other than "." loses
** its first two ("V 8.31" becomes "8.31"); the text is then cut before its
** second ".", so "7.31.UD1" becomes "7.31". */
void _sq_filter(char **text) {
  char *t = *text;
  const size_t len = std::strlen(t);
  if ((len < 2 || t[1] != '.') && (len < 3 || t[2] != '.')) {
    const size_t drop = std::min<size_t>(2, len);
    std::memmove(t, t + drop, len - drop + 1);
  }
  if (char *first = std::strchr(t, '.'); first != nullptr)
    if (char *second = std::strchr(first + 1, '.'); second != nullptr) *second = '\0';
}

int wrtintversion(int32_t number, sqli_tcb *tcb) {
  const int32_t version = std::clamp(number, 0, trace_version_max);
  if (_sqdbg != sqdbg_off) {
    const pipe_vbles *pipe = sqli_outpipe(tcb);
    unsigned char record[4] = {0, 'n', 0, 0};
    dvz_st_be_u16(static_cast<uint16_t>(version), record + 2);
    dump_write_buffer(reinterpret_cast<const char *>(record), 4,
                      pipe != nullptr && pipe->ostcb != nullptr ? pipe->ostcb : CheckOsInit(),
                      pipe != nullptr ? pipe->svcctl.ascid : nullptr);
    dvz_trace_setversion(version);
  }
  return version;
}

/* The handshake of a new current connection. The version text is copied
** into the record, the ladder gives *caps; below "6.00" nothing more is
** settled. After a protocol error the connection is gone: the caller must
** not touch it. */
int _sqverifyver(sqli_tcb *tcb, int32_t *caps, int32_t number) {
  *caps = 0;
  sqli_conn *conn = tcb->curconn;
  if (conn == nullptr || conn->io == nullptr) return -1;
  char text[sqli_version_size] = {};
  if (number == 0) {
    if (ask_version(text, tcb) != 0) return -1;
    char *p = text;
    _sq_filter(&p);
  } else {
    wrtintversion(number, tcb);
    _sq_mkintverstr(number, text);
  }
  std::memcpy(conn->server_version_text, text, sizeof text);
  *caps = sqli_version_caps(text);
  if (*caps == 0) return 0;
  apply_caps(conn, *caps, tcb);
  return 0;
}

/* The length word counts 6 and each entry's 4 + rounded lengths, which is
** 2 fewer than the bytes that follow it; the server reads by structure. */
int _sqs_env(evlist_t *list, sqli_tcb *tcb) {
  if (list == nullptr || list->count <= 0) return 0;
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (pipe == nullptr) return -1;
  int total = 6;
  int name_max = 0;
  int value_max = 0;
  for (int32_t i = 0; i < list->count; ++i) {
    const int name = even(static_cast<int>(std::strlen(list->names[i])));
    const int value = even(static_cast<int>(std::strlen(list->values[i])));
    total += 4 + name + value;
    name_max = std::max(name_max, name);
    value_max = std::max(value_max, value);
  }
  sqli_put16(pipe, SQ_INFO);
  sqli_put16(pipe, env_subcode);
  sqli_put16(pipe, total);
  sqli_put16(pipe, name_max);
  sqli_put16(pipe, value_max);
  for (int32_t i = 0; i < list->count; ++i) {
    _iputlbuf(list->names[i], static_cast<int>(std::strlen(list->names[i])), pipe);
    _iputlbuf(list->values[i], static_cast<int>(std::strlen(list->values[i])), pipe);
  }
  sqli_put16(pipe, 0);
  sqli_put16(pipe, 0);
  return _sqr_eot(tcb);
}

void _sqs_info(int flag, sqli_tcb *tcb) {
  pipe_vbles *pipe = sqli_outpipe(tcb);
  if (pipe == nullptr) return;
  sqli_put16(pipe, SQ_INFO);
  if (flag != 0) {
    sqli_put16(pipe, 1);
    sqli_put16(pipe, 0);
  }
  sqli_put16(pipe, 0);
  _iflushbuff(pipe);
  tcb->request_active = 1;
}

/* Items follow the code until a lone type word of 0 or below. A version
** item shorter than its 4-byte number is skipped and, once the items end,
** taken as a protocol error; flag items OR in their whole words and skip
** any remaining bytes. */
int _sqr_info(sqli_srvinfo *info, sqli_tcb *tcb) {
  std::memset(info, 0, sizeof *info);
  sqli_conn *conn = tcb->curconn;
  if (conn == nullptr || conn->io == nullptr || (conn->capabilities & sqli_cap_current) == 0)
    return -1;
  pipe_vbles *pipe = conn->io;
  _sqs_info(1, tcb);
  const int code = sqli_reply_code(tcb);
  if (code != SQR_INFO) {
    _sqproterr(tcb, code);
    return -1;
  }
  bool malformed = false;
  for (;;) {
    const int type = _igetint(pipe);
    if (type <= 0) break;
    const int n = _igetunsigned(pipe);
    switch (type) {
      case info_item_version:
        if (n < 4) {
          _igoblchars(n, pipe);
          malformed = true;
          break;
        }
        info->version = _igetlong(pipe);
        sqli_read_kept(info->text, info_text_keep, n - 4, pipe); /* n - 4 is as odd as n */
        break;
      case info_item_flags1:
      case info_item_flags2: {
        int32_t &word = type == info_item_flags1 ? info->flags1 : info->flags2;
        for (int i = 0; i < n / 4; ++i)
          word |= _igetlong(pipe);
        const int rest = n % 4;
        char sink[4];
        if (rest > 0) _igetbuf(sink, rest, pipe);
        if ((n & 1) != 0) _igetpad(pipe);
        break;
      }
      default:
        _igoblchars(n, pipe);
        break;
    }
  }
  /* A failed receive also ends the items: the stream is out of step. */
  if (malformed || pipe->recv_failed != 0) {
    _sqproterr(tcb, SQR_INFO);
    return -1;
  }
  return 0;
}
