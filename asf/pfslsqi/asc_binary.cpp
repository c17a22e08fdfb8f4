/*
** asc_binary.cpp: the binary form of the connect request and response, a
** frame of numbered sections (level and float format, connect parameters,
** the optional protocol-family request, environment list and process
** information), and its 6-bit text encoding for the text command line.
** One codec for both directions: mode 1 writes from records, mode 2 reads
** into new records. Called by the protocol family (connect, indication,
** responses) and by the text form of asc_text.cpp.
**
** Every length read from the wire is checked against the bytes left
** before it is used; the wire layout is written and read field by field.
*/
#include <cstring>

#include "asc_codec.h"
#include "asf_memory.h"
#include "gen_strings.h"

using asc_wire::clear_procinfo;
using asc_wire::env_name_ok;
using asc_wire::fail;
using asc_wire::fail_hard;
using asc_wire::Reader;
using asc_wire::Writer;

namespace {

constexpr int pool = asf_pool_assoc;

/* A new zeroed record of T, or null. */
template <typename T>
T *new_record() {
  return static_cast<T *>(asf_alloc(pool, sizeof(T)));
}

/* A new copy of n bytes with the last forced to 0 (a wire string), or null. */
char *copy_wire_string(const unsigned char *from, int32_t n) {
  auto *s = static_cast<char *>(asf_alloc(pool, static_cast<size_t>(n)));
  if (s == nullptr) return nullptr;
  std::memcpy(s, from, static_cast<size_t>(n));
  s[n - 1] = '\0';
  return s;
}

/* Reads a wire string into *to: null for length 0, else a new copy. false
** on truncation (in.ok false) or memory (*memory set). */
bool read_string(Reader &in, char **to, bool *memory) {
  *to = nullptr;
  int32_t n = static_cast<int32_t>(in.u16());
  if (!in.ok || n == 0) return in.ok;
  if (!in.has(n)) return false;
  *to = copy_wire_string(in.p, n);
  if (*to == nullptr) {
    *memory = true;
    return false;
  }
  in.skip(n);
  return true;
}

void free_str(char *s) {
  if (s != nullptr) asf_free(pool, s);
}

void put_name8(Writer &out, const char (&name)[ASC_NAME_SIZE]) { out.bytes(name, ASC_NAME_SIZE); }

/* ---- Writing the optional sections. ---- */

void write_conkind(Writer &out, const pfconkind *ck) {
  out.u16(asc_sec_conkind);
  out.u16(static_cast<uint32_t>(ck->kind));
  out.u32(static_cast<uint32_t>(ck->flags));
  for (const char *s : ck->str)
    out.str(s);
}

void write_status(Writer &out, const pfstatus *st) {
  out.u16(asc_sec_status);
  out.bytes(st->raw, sizeof st->raw);
  out.u16(static_cast<uint32_t>(st->errnum));
  out.u16(static_cast<uint32_t>(st->isamerr));
  out.u16(static_cast<uint32_t>(st->warnbits));
  int32_t count = st->msgs != nullptr && st->count > 0 ? st->count : 0;
  out.u16(static_cast<uint32_t>(count));
  for (int32_t i = 0; i < count && out.ok; ++i) {
    const pfmsgent &m = st->msgs[i];
    out.u16(static_cast<uint32_t>(m.offset));
    if (m.length < 1 || m.text == nullptr || m.length > 0xFFFF) {
      out.u16(0);
    } else {
      out.u16(static_cast<uint32_t>(m.length));
      out.bytes(m.text, m.length);
    }
  }
}

void write_strlist(Writer &out, const pfstrlist *list) {
  out.u16(asc_sec_strlist);
  int32_t count = list != nullptr && list->str != nullptr ? list->count : 0;
  if (count < 0) count = 0;
  if (count > ASC_MAX_LISTED) count = ASC_MAX_LISTED;
  out.u16(static_cast<uint32_t>(count));
  for (int32_t i = 0; i < count; ++i)
    out.str(list->str[i]);
}

/* Writes the section of request; false with -25563 in *status for a
** request this form cannot carry. */
bool write_request(Writer &out, const pfrequest *request, int32_t *status) {
  switch (request->type) {
    case asc_pf_conkind:
      if (request->rec == nullptr) break;
      write_conkind(out, static_cast<const pfconkind *>(request->rec));
      return true;
    case asc_pf_status: {
      const auto *st = static_cast<const pfstatus *>(request->rec);
      if (st == nullptr) break;
      if (st->subkind == asc_sub_status)
        write_status(out, st);
      else
        write_strlist(out, st->list);
      return true;
    }
    case asc_pf_opaque: {
      const auto *op = static_cast<const pfopaque *>(request->rec);
      if (op == nullptr || op->length < 0 || op->length > 0xFFFF ||
          (op->length > 0 && op->bytes == nullptr))
        break;
      out.u16(asc_sec_opaque);
      out.u16(static_cast<uint32_t>(op->length));
      out.bytes(op->bytes, op->length);
      return true;
    }
    default:
      break;
  }
  *status = ASF_ERR_BADARGS;
  return false;
}

void write_procinfo(Writer &out, const asfprocinfo *pi) {
  out.u16(asc_sec_proc);
  out.u32(static_cast<uint32_t>(pi->word0));
  out.u32(static_cast<uint32_t>(pi->pid));
  out.u32(static_cast<uint32_t>(pi->word2));
  out.str(pi->host);
  out.str(pi->tty);
  out.str(pi->cwd);
  out.u16(asc_sec_ids);
  out.u16(8);
  out.u32(static_cast<uint32_t>(pi->uid));
  out.u32(static_cast<uint32_t>(pi->gid));
}

int write_optional(asfsvcctl *ctl, Writer &out, const pfrequest *request, const evlist_t *envlist,
                   const asfprocinfo *procinfo) {
  if (request != nullptr) {
    int32_t status = ASC_ERR_PROTOCOL;
    if (!write_request(out, request, &status)) return fail_hard(ctl, status);
  }
  if (envlist != nullptr && envlist->count > 0) {
    if (envlist->names == nullptr || envlist->values == nullptr || envlist->count > 0xFFFF)
      return fail_hard(ctl, ASF_ERR_BADARGS);
    out.u16(asc_sec_env);
    out.u16(static_cast<uint32_t>(envlist->count));
    for (int32_t i = 0; i < envlist->count && out.ok; ++i) {
      out.str(envlist->names[i]);
      out.str(envlist->values[i]);
    }
  }
  if (procinfo != nullptr) write_procinfo(out, procinfo);
  if (!out.ok || out.used > out.room) return fail(ctl, ASC_ERR_PROTOCOL);
  return 0;
}

/* ---- Reading the optional sections. ---- */

/* Result of a section reader: ok, malformed, or memory. */
enum class Got { ok, bad, memory };

Got read_conkind(Reader &in, pfrequest *req) {
  auto *ck = new_record<pfconkind>();
  if (ck == nullptr) return Got::memory;
  req->type = asc_pf_conkind;
  req->rec = ck;
  ck->kind = static_cast<int32_t>(in.u16());
  ck->flags = in.i32();
  bool memory = false;
  for (char *&s : ck->str)
    if (!read_string(in, &s, &memory)) return memory ? Got::memory : Got::bad;
  return in.ok ? Got::ok : Got::bad;
}

Got read_status(Reader &in, pfrequest *req) {
  auto *st = new_record<pfstatus>();
  if (st == nullptr) return Got::memory;
  req->type = asc_pf_status;
  req->rec = st;
  st->subkind = asc_sub_status;
  in.bytes(st->raw, sizeof st->raw);
  st->errnum = in.i16();
  st->isamerr = in.i16();
  st->warnbits = in.i16();
  int32_t count = static_cast<int32_t>(in.u16());
  if (!in.ok) return Got::bad;
  if (count == 0) return Got::ok;
  /* Every entry takes at least 4 bytes: a count beyond that is a lie. */
  if (count > in.left / 4) return Got::bad;
  st->msgs = static_cast<pfmsgent *>(asf_alloc(pool, sizeof(pfmsgent) * count));
  if (st->msgs == nullptr) return Got::memory;
  st->count = count;
  for (int32_t i = 0; i < count; ++i) {
    pfmsgent &m = st->msgs[i];
    m.offset = in.i16();
    int32_t n = static_cast<int32_t>(in.u16());
    if (!in.has(n)) return Got::bad;
    if (n > 0) {
      m.text = static_cast<char *>(asf_alloc(pool, static_cast<size_t>(n)));
      if (m.text == nullptr) return Got::memory;
      in.bytes(m.text, n);
      m.length = n;
    }
  }
  return in.ok ? Got::ok : Got::bad;
}

Got read_strlist(Reader &in, pfrequest *req) {
  auto *st = new_record<pfstatus>();
  if (st == nullptr) return Got::memory;
  req->type = asc_pf_status;
  req->rec = st;
  st->subkind = asc_sub_list;
  st->list = new_record<pfstrlist>();
  if (st->list == nullptr) return Got::memory;
  int32_t count = static_cast<int32_t>(in.u16());
  if (!in.ok || count > in.left / 2) return Got::bad;
  if (count == 0) return Got::ok;
  st->list->str = static_cast<char **>(asf_alloc(pool, sizeof(char *) * count));
  if (st->list->str == nullptr) return Got::memory;
  st->list->count = count;
  bool memory = false;
  for (int32_t i = 0; i < count; ++i)
    if (!read_string(in, &st->list->str[i], &memory)) return memory ? Got::memory : Got::bad;
  return Got::ok;
}

Got read_opaque(Reader &in, pfrequest *req) {
  auto *op = new_record<pfopaque>();
  if (op == nullptr) return Got::memory;
  req->type = asc_pf_opaque;
  req->rec = op;
  int32_t n = static_cast<int32_t>(in.u16());
  if (!in.has(n)) return Got::bad;
  if (n > 0) {
    op->bytes = asf_alloc(pool, static_cast<size_t>(n));
    if (op->bytes == nullptr) return Got::memory;
    in.bytes(op->bytes, n);
    op->length = n;
  }
  return Got::ok;
}

Got read_envlist(Reader &in, evlist_t *list) {
  int32_t count = static_cast<int32_t>(in.u16());
  if (!in.ok || count > in.left / 4) return Got::bad;
  if (count == 0) return Got::ok;
  list->names = static_cast<char **>(asf_alloc(pool, sizeof(char *) * count));
  list->values = static_cast<char **>(asf_alloc(pool, sizeof(char *) * count));
  if (list->names == nullptr || list->values == nullptr) return Got::memory;
  bool memory = false;
  for (int32_t i = 0; i < count; ++i) {
    list->count = i + 1;
    if (!read_string(in, &list->names[i], &memory) || !read_string(in, &list->values[i], &memory))
      return memory ? Got::memory : Got::bad;
    if (!env_name_ok(list->names[i])) return Got::bad;
  }
  return Got::ok;
}

Got read_procinfo(Reader &in, asfprocinfo *pi) {
  ascFreeProcinfo(pi);
  pi->word0 = in.i32();
  pi->pid = in.i32();
  pi->word2 = in.i32();
  bool memory = false;
  if (!read_string(in, &pi->host, &memory) || !read_string(in, &pi->tty, &memory) ||
      !read_string(in, &pi->cwd, &memory))
    return memory ? Got::memory : Got::bad;
  return Got::ok;
}

Got read_ids(Reader &in, asfprocinfo *pi) {
  int32_t n = static_cast<int32_t>(in.u16());
  /* The two ids take 8 bytes; a shorter section would step backwards. */
  if (!in.ok || n < 8 || !in.has(n)) return Got::bad;
  pi->uid = in.i32();
  pi->gid = in.i32();
  in.skip(n - 8);
  return Got::ok;
}

/* Reads the optional sections into the outputs (each may be null: the
** section is then read into a scratch record and dropped). */
int read_optional(asfsvcctl *ctl, Reader &in, pfrequest **request, evlist_t **envlist,
                  asfprocinfo *procinfo) {
  pfrequest *scratch_req = nullptr;
  evlist_t *scratch_env = nullptr;
  asfprocinfo scratch_pi;
  clear_procinfo(&scratch_pi);
  pfrequest **req_out = request != nullptr ? request : &scratch_req;
  evlist_t **env_out = envlist != nullptr ? envlist : &scratch_env;
  asfprocinfo *pi_out = procinfo != nullptr ? procinfo : &scratch_pi;
  bool have_req = false, have_env = false;
  Got got = Got::ok;
  for (;;) {
    uint32_t code = in.u16();
    if (!in.ok) {
      got = Got::bad;
      break;
    }
    if (code == asc_sec_end) {
      /* Left unread for the caller. */
      in.p -= 2;
      in.left += 2;
      break;
    }
    switch (code) {
      case asc_sec_status:
      case asc_sec_strlist:
      case asc_sec_conkind:
      case asc_sec_opaque: {
        if (have_req) {
          got = Got::bad;
          break;
        }
        have_req = true;
        *req_out = new_record<pfrequest>();
        if (*req_out == nullptr) {
          got = Got::memory;
          break;
        }
        got = code == asc_sec_status    ? read_status(in, *req_out)
              : code == asc_sec_strlist ? read_strlist(in, *req_out)
              : code == asc_sec_conkind ? read_conkind(in, *req_out)
                                        : read_opaque(in, *req_out);
        break;
      }
      case asc_sec_env:
        if (have_env) {
          got = Got::bad;
          break;
        }
        have_env = true;
        *env_out = new_record<evlist_t>();
        got = *env_out == nullptr ? Got::memory : read_envlist(in, *env_out);
        if (got != Got::ok) {
          /* A refused list is never handed on, not even in part. */
          ascFreeEnvlist(*env_out);
          *env_out = nullptr;
        }
        break;
      case asc_sec_proc:
        got = read_procinfo(in, pi_out);
        break;
      case asc_sec_ids:
        got = read_ids(in, pi_out);
        break;
      default: {
        int32_t n = static_cast<int32_t>(in.u16());
        in.skip(n);
        got = in.ok ? Got::ok : Got::bad;
        break;
      }
    }
    if (got != Got::ok) break;
  }
  ascFreeRequest(scratch_req);
  ascFreeEnvlist(scratch_env);
  ascFreeProcinfo(&scratch_pi);
  if (got == Got::memory) return fail_hard(ctl, ASF_ERR_MEMORY);
  if (got == Got::bad) return fail(ctl, ASC_ERR_PROTOCOL);
  return 0;
}

/* ---- The level and parameter sections. ---- */

void write_level_and_params(Writer &out, int32_t level, ascbinreq *params) {
  out.u16(asc_sec_level);
  out.u32(static_cast<uint32_t>(level));
  out.u16(sizeof ASC_FLOAT_FORMAT);
  out.bytes(ASC_FLOAT_FORMAT, sizeof ASC_FLOAT_FORMAT);
  out.u16(asc_sec_params);
  params->progname[ASC_PROGNAME_SIZE - 1] = '\0';
  out.bytes(params->progname, ASC_PROGNAME_SIZE);
  out.str(params->version);
  out.str(params->clientid);
  out.str(params->pfname);
  for (int32_t w : params->word)
    out.u32(static_cast<uint32_t>(w));
  out.u16(static_cast<uint32_t>(params->userkind));
  if (params->userkind != 0) {
    out.str(params->user);
    out.str(params->password);
  } else {
    out.u16(0);
    out.u16(0);
  }
  put_name8(out, params->pairs.product);
  out.u32(static_cast<uint32_t>(params->pairs.level));
  put_name8(out, params->pairs.protocol);
  out.u32(static_cast<uint32_t>(params->pairs.version));
}

/* Reads sections 101 and 108 into *level, a new *params and fmt. */
int read_level_and_params(asfsvcctl *ctl, Reader &in, int32_t *level, ascbinreq **params,
                          pfdatafmt *fmt) {
  if (in.u16() != asc_sec_level || in.left < 1) return fail(ctl, ASC_ERR_PROTOCOL);
  *level = in.i32();
  int32_t n = static_cast<int32_t>(in.u16());
  if (!in.has(n)) return fail(ctl, ASC_ERR_PROTOCOL);
  if (n > 0) {
    bool ieee = n >= static_cast<int32_t>(sizeof ASC_FLOAT_FORMAT) - 1 &&
                std::memcmp(in.p, ASC_FLOAT_FORMAT, sizeof ASC_FLOAT_FORMAT - 1) == 0 &&
                (n == sizeof ASC_FLOAT_FORMAT - 1 || in.p[sizeof ASC_FLOAT_FORMAT - 1] == 0);
    fmt->word[3] = ieee ? 0 : 16;
    in.skip(n);
  }
  if (in.u16() != asc_sec_params || !in.ok) return fail(ctl, ASC_ERR_PROTOCOL);
  ascbinreq *p = new_record<ascbinreq>();
  if (p == nullptr) return fail_hard(ctl, ASF_ERR_MEMORY);
  *params = p;
  in.bytes(p->progname, ASC_PROGNAME_SIZE);
  p->progname[ASC_PROGNAME_SIZE - 1] = '\0';
  bool memory = false;
  if (!read_string(in, &p->version, &memory) || !read_string(in, &p->clientid, &memory) ||
      !read_string(in, &p->pfname, &memory))
    return memory ? fail_hard(ctl, ASF_ERR_MEMORY) : fail(ctl, ASC_ERR_PROTOCOL);
  for (int32_t &w : p->word)
    w = in.i32();
  p->userkind = static_cast<int32_t>(in.u16());
  if (!read_string(in, &p->user, &memory) || !read_string(in, &p->password, &memory))
    return memory ? fail_hard(ctl, ASF_ERR_MEMORY) : fail(ctl, ASC_ERR_PROTOCOL);
  in.bytes(p->pairs.product, ASC_NAME_SIZE);
  p->pairs.level = in.i32();
  in.bytes(p->pairs.protocol, ASC_NAME_SIZE);
  p->pairs.version = in.i32();
  if (!in.ok || in.left < 1) return fail(ctl, ASC_ERR_PROTOCOL);
  return 0;
}

/* Section 109 from mrec. */
void write_mrec(Writer &out, const ascmrec *m) {
  out.u16(asc_sec_text);
  out.u32(static_cast<uint32_t>(m->level));
  put_name8(out, m->pairs.product);
  out.u32(static_cast<uint32_t>(m->pairs.level));
  put_name8(out, m->pairs.protocol);
  out.u32(static_cast<uint32_t>(m->pairs.version));
  for (int32_t w : m->word)
    out.u32(static_cast<uint32_t>(w));
  char prog[ASC_PROGNAME_SIZE];
  std::memcpy(prog, m->progname, sizeof prog);
  prog[ASC_PROGNAME_SIZE - 1] = '\0';
  out.bytes(prog, ASC_PROGNAME_SIZE);
  out.str(m->pfname);
  out.u16(static_cast<uint32_t>(m->kind));
  out.u32(static_cast<uint32_t>(m->flags));
  out.str(m->server);
}

/* Section 109 (its code already read) into mrec. */
int read_mrec(asfsvcctl *ctl, Reader &in, ascmrec *m) {
  m->level = in.i32();
  in.bytes(m->pairs.product, ASC_NAME_SIZE);
  m->pairs.level = in.i32();
  in.bytes(m->pairs.protocol, ASC_NAME_SIZE);
  m->pairs.version = in.i32();
  for (int32_t &w : m->word)
    w = in.i32();
  in.bytes(m->progname, ASC_PROGNAME_SIZE);
  m->progname[ASC_PROGNAME_SIZE - 1] = '\0';
  bool memory = false;
  if (!read_string(in, &m->pfname, &memory))
    return memory ? fail_hard(ctl, ASF_ERR_MEMORY) : fail(ctl, ASC_ERR_PROTOCOL);
  m->kind = static_cast<int32_t>(in.u16());
  m->flags = in.i32();
  if (!read_string(in, &m->server, &memory))
    return memory ? fail_hard(ctl, ASF_ERR_MEMORY) : fail(ctl, ASC_ERR_PROTOCOL);
  return in.ok ? 0 : fail(ctl, ASC_ERR_PROTOCOL);
}

}  // namespace

extern "C" {

int ascOptBin(asfsvcctl *ctl, int mode, char **cursor, int32_t *count, int32_t room,
              pfrequest **request, evlist_t **envlist, asfprocinfo *procinfo) {
  if (cursor == nullptr || *cursor == nullptr || count == nullptr)
    return fail_hard(ctl, ASF_ERR_BADARGS);
  if (mode == asc_mode_write) {
    Writer out {*cursor - *count, *count, room};
    int rc = write_optional(ctl, out, request != nullptr ? *request : nullptr,
                            envlist != nullptr ? *envlist : nullptr, procinfo);
    if (rc != 0) return rc;
    *cursor += out.used - *count;
    *count = out.used;
    return 0;
  }
  if (mode != asc_mode_read) return fail_hard(ctl, ASF_ERR_BADARGS);
  Reader in {reinterpret_cast<const unsigned char *>(*cursor), *count};
  int rc = read_optional(ctl, in, request, envlist, procinfo);
  *cursor = const_cast<char *>(reinterpret_cast<const char *>(in.p));
  *count = in.left;
  return rc;
}

int ascBinary(asfsvcctl *ctl, int mode, rscbufctl *buf, int32_t *level, ascbinreq **params,
              pfrequest **request, evlist_t **envlist, asfprocinfo *procinfo, pfdatafmt *fmt) {
  if (buf == nullptr || buf->p == nullptr || buf->size < 0) return fail_hard(ctl, ASF_ERR_BADARGS);
  if (mode == asc_mode_write) {
    if (params == nullptr || *params == nullptr || level == nullptr)
      return fail_hard(ctl, ASF_ERR_BADARGS);
    Writer out {buf->p, 0, buf->size};
    write_level_and_params(out, *level, *params);
    if (!out.ok) return fail(ctl, ASC_ERR_PROTOCOL);
    int rc = write_optional(ctl, out, request != nullptr ? *request : nullptr,
                            envlist != nullptr ? *envlist : nullptr, procinfo);
    if (rc != 0) return rc;
    buf->size = out.used;
    return 0;
  }
  if (mode != asc_mode_read) return fail_hard(ctl, ASF_ERR_BADARGS);
  if (level == nullptr || params == nullptr || fmt == nullptr)
    return fail_hard(ctl, ASC_ERR_NOOUTPUT);
  *level = 0;
  *params = nullptr;
  if (request != nullptr) *request = nullptr;
  if (envlist != nullptr) *envlist = nullptr;
  if (procinfo != nullptr) clear_procinfo(procinfo);
  fmt->word[0] = fmt->word[1] = fmt->word[2] = 16;
  fmt->word[3] = 1;
  fmt->word[5] = 0;
  Reader in {reinterpret_cast<const unsigned char *>(buf->p), buf->size};
  int rc = read_level_and_params(ctl, in, level, params, fmt);
  if (rc == 0) rc = read_optional(ctl, in, request, envlist, procinfo);
  if (rc == 0 && in.left < 1) rc = fail(ctl, ASC_ERR_PROTOCOL);
  buf->p = const_cast<char *>(reinterpret_cast<const char *>(in.p));
  buf->size = in.left;
  return rc;
}

int ascScatter(asfsvcctl *ctl, int mode, rscbufctl *buf, int32_t *code, ascmrec *mrec,
               int32_t *level, ascbinreq **params, pfrequest **request, evlist_t **envlist,
               asfprocinfo *procinfo, pfdatafmt *fmt) {
  if (buf == nullptr || buf->p == nullptr || buf->size < 0 || code == nullptr)
    return fail_hard(ctl, ASF_ERR_BADARGS);
  if (mode == asc_mode_write) {
    int32_t room = buf->size;
    if (room < 1) return fail_hard(ctl, ASF_ERR_MEMORY);
    auto *area = static_cast<char *>(asf_alloc(asf_pool_temp, static_cast<size_t>(room)));
    if (area == nullptr) return fail_hard(ctl, ASF_ERR_MEMORY);
    int32_t n = 0;
    int rc = 0;
    if (*code == asc_sec_level) {
      rscbufctl bin {};
      bin.p = area;
      bin.size = room;
      rc = ascBinary(ctl, asc_mode_write, &bin, level, params, request, envlist, procinfo, fmt);
      n = bin.size;
    } else if (mrec == nullptr) {
      rc = fail_hard(ctl, ASF_ERR_BADARGS);
    } else {
      Writer out {area, 0, room};
      write_mrec(out, mrec);
      if (!out.ok) {
        rc = fail_hard(ctl, ASF_ERR_MEMORY);
      } else {
        rc = write_optional(ctl, out, nullptr, nullptr, procinfo);
        n = out.used;
      }
    }
    if (rc == 0) {
      Writer end {area, n, room};
      end.u16(asc_sec_end);
      n = end.used;
      int32_t text = n + (n + 2) / 3;
      if (!end.ok || text > room) {
        rc = fail_hard(ctl, ASF_ERR_MEMORY);
      } else {
        conbinto6(area, buf->p, n);
        buf->size = text;
      }
    } else if (ctl != nullptr && ctl->asfcode == ASC_ERR_PROTOCOL) {
      /* A section that did not fit: the text form's failure is -406. */
      ctl->asfcode = ASF_ERR_MEMORY;
    }
    asf_free(asf_pool_temp, area);
    return rc;
  }
  if (mode != asc_mode_read) return fail_hard(ctl, ASF_ERR_BADARGS);
  if (buf->size < 1 || buf->p[0] == '\0') return fail(ctl, ASC_ERR_PROTOCOL);
  int32_t n = static_cast<int32_t>(static_cast<int64_t>(buf->size) * 3 / 4);
  auto *area = static_cast<char *>(asf_alloc(asf_pool_temp, static_cast<size_t>(n) + 1));
  if (area == nullptr) return fail_hard(ctl, ASF_ERR_MEMORY);
  con6tobin(buf->p, area, buf->size);
  Reader peek {reinterpret_cast<const unsigned char *>(area), n};
  uint32_t first = peek.peek16();
  int rc;
  if (first == asc_sec_level) {
    *code = asc_sec_level;
    rscbufctl bin {};
    bin.p = area;
    bin.size = n;
    rc = ascBinary(ctl, asc_mode_read, &bin, level, params, request, envlist, procinfo, fmt);
  } else if (first == asc_sec_text) {
    if (mrec == nullptr) {
      rc = fail_hard(ctl, ASC_ERR_NOOUTPUT);
    } else {
      *code = asc_sec_text;
      std::memset(mrec, 0, sizeof *mrec);
      if (procinfo != nullptr) clear_procinfo(procinfo);
      Reader in {reinterpret_cast<const unsigned char *>(area) + 2, n - 2};
      rc = read_mrec(ctl, in, mrec);
      if (rc == 0) rc = read_optional(ctl, in, nullptr, nullptr, procinfo);
      if (rc == 0 && in.left < 1) rc = fail(ctl, ASC_ERR_PROTOCOL);
    }
  } else {
    rc = fail(ctl, ASC_ERR_PROTOCOL);
  }
  asf_free(asf_pool_temp, area);
  return rc;
}

void ascFreeParams(ascbinreq *params) {
  if (params == nullptr) return;
  free_str(params->version);
  free_str(params->clientid);
  free_str(params->pfname);
  free_str(params->user);
  free_str(params->password);
  asf_free(pool, params);
}

void ascFreeRequest(pfrequest *request) {
  if (request == nullptr) return;
  if (request->rec != nullptr) {
    switch (request->type) {
      case asc_pf_conkind:
        for (char *s : static_cast<pfconkind *>(request->rec)->str)
          free_str(s);
        break;
      case asc_pf_status: {
        auto *st = static_cast<pfstatus *>(request->rec);
        if (st->msgs != nullptr) {
          for (int32_t i = 0; i < st->count; ++i)
            free_str(st->msgs[i].text);
          asf_free(pool, st->msgs);
        }
        if (st->list != nullptr) {
          if (st->list->str != nullptr) {
            for (int32_t i = 0; i < st->list->count; ++i)
              free_str(st->list->str[i]);
            asf_free(pool, st->list->str);
          }
          asf_free(pool, st->list);
        }
        break;
      }
      case asc_pf_opaque: {
        auto *op = static_cast<pfopaque *>(request->rec);
        if (op->bytes != nullptr) asf_free(pool, op->bytes);
        break;
      }
      default:
        break;
    }
    asf_free(pool, request->rec);
  }
  asf_free(pool, request);
}

void ascFreeEnvlist(evlist_t *envlist) {
  if (envlist == nullptr) return;
  for (int32_t i = 0; i < envlist->count; ++i) {
    if (envlist->names != nullptr) free_str(envlist->names[i]);
    if (envlist->values != nullptr) free_str(envlist->values[i]);
  }
  if (envlist->names != nullptr) asf_free(pool, envlist->names);
  if (envlist->values != nullptr) asf_free(pool, envlist->values);
  asf_free(pool, envlist);
}

void ascFreeProcinfo(asfprocinfo *procinfo) {
  if (procinfo == nullptr) return;
  free_str(procinfo->host);
  free_str(procinfo->tty);
  free_str(procinfo->cwd);
  procinfo->host = procinfo->tty = procinfo->cwd = nullptr;
}

void ascFreeMrec(ascmrec *mrec) {
  if (mrec == nullptr) return;
  free_str(mrec->pfname);
  free_str(mrec->server);
  mrec->pfname = mrec->server = nullptr;
}

}  // extern "C"
