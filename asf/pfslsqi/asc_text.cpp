/*
** asc_text.cpp: the text form of the connect request (a command line that
** begins with "sqlexec", with what it cannot carry appended as the 6-bit
** text of section 109), its parser on the listening side, the old-protocol
** replies of servers below level 60, and the builder that chooses the form
** of a client's connect request. Called by the protocol family; the binary
** sections come from asc_binary.cpp.
**
** Lengths read from an old-protocol reply are checked against the bytes
** left; a request that cannot travel under one session header is refused
** before anything is sent.
*/
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

#include "asc_codec.h"
#include "asf_memory.h"

using asc_wire::clear_procinfo;
using asc_wire::fail;
using asc_wire::fail_hard;
using asc_wire::Reader;
using asc_wire::Writer;

namespace {

constexpr int pool = asf_pool_assoc;
constexpr int option_area = 512;

/* Old-protocol reply codes. */
enum : uint32_t { old_accept = 15, old_error = 13, old_more = 55, old_ok = 12, old_reject = 56 };

bool starts(const char *word, std::string_view prefix) {
  return word != nullptr && std::string_view(word).substr(0, prefix.size()) == prefix;
}

const char *or_empty(const char *s) { return s != nullptr ? s : ""; }

bool empty(const char *s) { return s == nullptr || *s == '\0'; }

/* Appends text to the option words; false when the area is full. */
struct Options {
  char text[option_area] = {};
  size_t len = 0;
  bool ok = true;
  void add(const char *s) {
    size_t n = std::strlen(s);
    if (!ok || len + n >= sizeof text) {
      ok = false;
      return;
    }
    std::memcpy(text + len, s, n + 1);
    len += n;
  }
};

/* The log-flag word of kinds 1 and 3 ("-a" or "-l" with the log file). */
void add_log_flag(Options &o, const pfconkind *ck) {
  if ((ck->flags & asc_flag_loga) != 0) {
    o.add(" -a");
    o.add(or_empty(ck->str[asc_str_logfile]));
  } else if ((ck->flags & asc_flag_logl) != 0) {
    o.add(" -l");
    o.add(or_empty(ck->str[asc_str_logfile]));
  }
}

void opt_create(Options &o, const pfconkind *ck) {
  o.add("-c");
  o.add(or_empty(ck->str[asc_str_dbname]));
  o.add(" ");
  o.add(empty(ck->str[asc_str_logarg]) ? "-" : ck->str[asc_str_logarg]);
  if ((ck->flags & asc_flag_buffered) != 0)
    o.add(" -b");
  else
    add_log_flag(o, ck);
}
void opt_open(Options &o, const pfconkind *ck) {
  o.add("-d");
  o.add(or_empty(ck->str[asc_str_dbname]));
  if ((ck->flags & asc_flag_exclusive) != 0) o.add(" -e");
}
void opt_start(Options &o, const pfconkind *ck) {
  o.add("-s");
  o.add(or_empty(ck->str[asc_str_dbname]));
  o.add(" -");
  add_log_flag(o, ck);
}
void opt_distopen(Options &o, const pfconkind *ck) {
  o.add("-n");
  o.add(or_empty(ck->str[asc_str_dbname]));
  if ((ck->flags & asc_flag_loga) != 0)
    o.add(" -a");
  else if ((ck->flags & asc_flag_logl) != 0)
    o.add(" -l");
  else if ((ck->flags & asc_flag_distn) != 0)
    o.add(" -n");
}
void opt_drop(Options &o, const pfconkind *ck) {
  o.add("-r");
  o.add(or_empty(ck->str[asc_str_dbname]));
}
void opt_nodb(Options &o, const pfconkind *) { o.add("-p"); }
void opt_dblist(Options &o, const pfconkind *ck) {
  o.add("-l");
  o.add(or_empty(ck->str[asc_str_logarg]));
}
void opt_x(Options &o, const pfconkind *) { o.add("-x"); }
void opt_connect(Options &o, const pfconkind *ck) {
  if (empty(ck->str[asc_str_dbname])) return o.add("-p");
  o.add("-d");
  o.add(ck->str[asc_str_dbname]);
}

/* Option-word writers by connect kind; null for kinds that have none. */
using OptionWriter = void (*)(Options &, const pfconkind *);
constexpr OptionWriter option_writers[] = {nullptr,      opt_create, opt_open, opt_start,
                                           opt_distopen, opt_drop,   opt_nodb, opt_dblist,
                                           nullptr,      nullptr,    opt_x,    opt_connect};

/* The server name of ctl's association's server entry, or null. */
const char *entry_server(const asfsvcctl *ctl) {
  if (ctl == nullptr) return nullptr;
  const auto *assoc = static_cast<const Assocctl *>(ctl->ascid);
  if (!asfValidAssoc(assoc) || assoc->kind == asf_kind_accepted || assoc->al == nullptr)
    return nullptr;
  const NSEntry *entry = assoc->al->cm.svrentry;
  return entry != nullptr ? entry->servername : nullptr;
}

/* Replaces *slot with a copy of s (null for null); false for memory. */
bool set_str(char **slot, const char *s) {
  if (*slot != nullptr) asf_free(pool, *slot);
  *slot = nullptr;
  if (s == nullptr) return true;
  *slot = meStrDup(pool, s);
  return *slot != nullptr;
}

/* Word n (counted from 1) or null. */
const char *word_at(int count, char **words, int n) { return n <= count ? words[n - 1] : nullptr; }

/* The log argument of "-c" and "-s" from the sixth word. */
bool take_log_argument(pfconkind *ck, int count, char **words) {
  const char *w = word_at(count, words, 6);
  if (w != nullptr) {
    if (w[0] == '-') {
      ck->flags |= asc_flag_logword;
    } else if (std::strchr(w, '/') != nullptr) {
      ck->flags |= asc_flag_logpath;
      if (!set_str(&ck->str[asc_str_logarg], w)) return false;
    } else {
      ck->flags |= asc_flag_logword;
      if (!set_str(&ck->str[asc_str_logarg], w)) return false;
    }
  }
  if ((ck->flags & (asc_flag_logword | asc_flag_logpath)) == 0)
    ck->flags |= asc_flag_logword | asc_flag_logpath;
  return true;
}

/* The seventh word of "-c". */
bool create_log_word(pfconkind *ck, int count, char **words) {
  const char *w = word_at(count, words, 7);
  if (w == nullptr) return true;
  if (std::strcmp(w, "-b") == 0) {
    ck->flags = (ck->flags | asc_flag_buffered | asc_flag_logword) & ~asc_flag_logpath;
    return true;
  }
  if (!starts(w, "-a") && !starts(w, "-l")) return true;
  bool is_a = w[1] == 'a';
  if (w[2] != '\0') {
    ck->flags = (ck->flags & ~asc_flag_logword) | asc_flag_logpath;
    if (!set_str(&ck->str[asc_str_logfile], w + 2)) return false;
  } else if (!is_a && (ck->flags & asc_flag_logpath) != 0) {
    if (!set_str(&ck->str[asc_str_logfile], nullptr)) return false;
  } else {
    ck->flags = (ck->flags & ~asc_flag_logpath) | asc_flag_logword;
  }
  ck->flags |= is_a ? asc_flag_loga : asc_flag_logl;
  return true;
}

/* The group words, after every successful option. */
bool str_gtrid(pfconkind *ck, int count, char **words) {
  ck->flags &= ~asc_flag_grouparg;
  if (!set_str(&ck->str[asc_str_group], nullptr) || !set_str(&ck->str[asc_str_grouparg], nullptr))
    return false;
  for (int n = 6; n <= count; ++n) {
    const char *w = words[n - 1];
    if (!starts(w, "-g")) continue;
    if (starts(w, "-gr")) ck->flags |= asc_flag_grouparg;
    if (n + 1 > count) break;
    if (!set_str(&ck->str[asc_str_group], words[n])) return false;
    /* The argument is optional: the next option word is not one. */
    const char *arg = word_at(count, words, n + 2);
    bool take = arg != nullptr && arg[0] != '-' &&
                (ck->kind != asc_kind_tape || (ck->flags & asc_flag_grouparg) != 0);
    if (take && !set_str(&ck->str[asc_str_grouparg], arg)) return false;
    break;
  }
  return true;
}

/* The peer format from the "-f" word (str_pltxflags). */
void str_pltxflags(pfdatafmt *fmt, int count, char **words) {
  fmt->word[0] = fmt->word[1] = fmt->word[2] = 16;
  fmt->word[5] = 0;
  fmt->word[3] = fmt->word[4] = 1;
  for (int n = 5; n <= count; ++n) {
    if (!starts(words[n - 1], "-f")) continue;
    int32_t v = std::strcmp(words[n - 1] + 2, ASC_FLOAT_FORMAT) == 0 ? 0 : 16;
    fmt->word[3] = fmt->word[4] = v;
    return;
  }
}

/* True when a word from the fifth on is an environment word ("name=value")
** without a name: such a request is refused before anything is made. */
bool has_unnamed_env_word(int count, char **words) {
  for (int i = 5; i <= count; ++i)
    if (words[i - 1][0] == '=') return true;
  return false;
}

/* The environment words from the fifth on into a new list. */
int env_from_words(asfsvcctl *ctl, evlist_t **out, int count, char **words) {
  auto *list = static_cast<evlist_t *>(asf_alloc(pool, sizeof(evlist_t)));
  if (list == nullptr) return fail_hard(ctl, ASF_ERR_MEMORY);
  *out = list;
  int n = 0;
  for (int i = 5; i <= count; ++i)
    if (words[i - 1][0] != '-' && std::strchr(words[i - 1], '=') != nullptr) ++n;
  if (n == 0) return 0;
  list->names = static_cast<char **>(asf_alloc(pool, sizeof(char *) * n));
  list->values = static_cast<char **>(asf_alloc(pool, sizeof(char *) * n));
  if (list->names == nullptr || list->values == nullptr) return fail_hard(ctl, ASF_ERR_MEMORY);
  for (int i = 5; i <= count; ++i) {
    const char *w = words[i - 1];
    const char *eq = std::strchr(w, '=');
    if (w[0] == '-' || eq == nullptr) continue;
    int k = list->count++;
    size_t namelen = static_cast<size_t>(eq - w);
    list->names[k] = static_cast<char *>(asf_alloc(pool, namelen + 1));
    if (list->names[k] == nullptr) return fail_hard(ctl, ASF_ERR_MEMORY);
    std::memcpy(list->names[k], w, namelen);
    list->values[k] = meStrDup(pool, eq + 1);
    if (list->values[k] == nullptr) return fail_hard(ctl, ASF_ERR_MEMORY);
  }
  return 0;
}

/* A new type-2 request with an empty status record, or null. */
pfrequest *new_status_request() {
  auto *req = static_cast<pfrequest *>(asf_alloc(pool, sizeof(pfrequest)));
  auto *st = static_cast<pfstatus *>(asf_alloc(pool, sizeof(pfstatus)));
  if (req == nullptr || st == nullptr) {
    if (req != nullptr) asf_free(pool, req);
    if (st != nullptr) asf_free(pool, st);
    return nullptr;
  }
  st->subkind = asc_sub_status;
  req->type = asc_pf_status;
  req->rec = st;
  return req;
}

/* The database list of an old-protocol reply into st (sub-kind 1). */
int read_dblist(asfsvcctl *ctl, Reader &in, pfstatus *st) {
  st->subkind = asc_sub_list;
  st->list = static_cast<pfstrlist *>(asf_alloc(pool, sizeof(pfstrlist)));
  if (st->list == nullptr) return fail_hard(ctl, ASF_ERR_MEMORY);
  st->list->str = static_cast<char **>(asf_alloc(pool, sizeof(char *) * ASC_MAX_LISTED));
  if (st->list->str == nullptr) return fail_hard(ctl, ASF_ERR_MEMORY);
  for (;;) {
    int32_t n = static_cast<int32_t>(in.u16());
    if (!in.ok) return fail(ctl, ASC_ERR_PROTOCOL);
    if (n == 0) return 0;
    int32_t padded = n + (n & 1);
    if (!in.has(padded)) return fail(ctl, ASC_ERR_PROTOCOL);
    if (st->list->count < ASC_MAX_LISTED) {
      auto *name = static_cast<char *>(asf_alloc(pool, static_cast<size_t>(n) + 1));
      if (name == nullptr) return fail_hard(ctl, ASF_ERR_MEMORY);
      std::memcpy(name, in.p, static_cast<size_t>(n));
      st->list->str[st->list->count++] = name;
    }
    in.skip(padded);
  }
}

/* Reads an old-protocol reply body (see asc50resp). */
int read_old_reply(asfsvcctl *ctl, int kind, Reader &in, pfstatus *st) {
  int32_t status = ctl != nullptr ? ctl->asfcode : 0;
  bool unset = status == 0 || status == 1;
  if ((kind == asc_kind_nodb || (kind == asc_kind_connect && in.left == 0)) && unset) return 0;
  if (in.left == 0) {
    /* A reject the session layer saw keeps its status 7. */
    if (!unset && status > 0) return -1;
    return fail(ctl, ASC_ERR_PROTOCOL);
  }
  if (kind == asc_kind_dblist && unset) {
    bool error = in.peek16() == old_error;
    if (error && in.left >= 10) {
      uint32_t a = (static_cast<uint32_t>(in.p[6]) << 8) | in.p[7];
      uint32_t b = (static_cast<uint32_t>(in.p[8]) << 8) | in.p[9];
      if (a != 0 && b != 0) error = false;
    }
    if (!error) {
      if (read_dblist(ctl, in, st) != 0) return -1;
      if (ctl != nullptr) ctl->asfcode = 7;
      return 0;
    }
  }
  uint32_t code = in.u16();
  if (code == old_accept) {
    st->warnbits = in.i16();
    in.skip(12);
    uint32_t end = in.u16();
    if (end == old_more) {
      in.skip(8);
      end = in.u16();
    }
    if (!in.ok) return fail(ctl, ASC_ERR_PROTOCOL);
    if (end == old_ok) return 0;
    if (end == old_reject) {
      if (ctl != nullptr) ctl->asfcode = 7;
      return 0;
    }
    return fail(ctl, ASC_ERR_PROTOCOL);
  }
  if (code != old_error) return fail(ctl, ASC_ERR_PROTOCOL);
  st->errnum = in.i16();
  if (in.ok && ctl != nullptr) ctl->oserr = st->errnum;
  st->isamerr = in.i16();
  int32_t offset = in.i16();
  int32_t n = static_cast<int32_t>(in.u16());
  if (!in.has(n)) return fail(ctl, ASC_ERR_PROTOCOL);
  if (offset != 0 || n != 0) {
    st->msgs = static_cast<pfmsgent *>(asf_alloc(pool, sizeof(pfmsgent)));
    if (st->msgs == nullptr) return fail_hard(ctl, ASF_ERR_MEMORY);
    st->count = 1;
    st->msgs[0].offset = offset;
    if (n > 0) {
      st->msgs[0].text = static_cast<char *>(asf_alloc(pool, static_cast<size_t>(n)));
      if (st->msgs[0].text == nullptr) return fail_hard(ctl, ASF_ERR_MEMORY);
      in.bytes(st->msgs[0].text, n);
      st->msgs[0].length = n;
    }
  }
  if (in.left >= 2) in.skip(2); /* the closing 12 */
  if (ctl != nullptr && (ctl->asfcode == 0 || ctl->asfcode == 1)) ctl->asfcode = ASC_ERR_PROTOCOL;
  return -1;
}

/* Writes an old-protocol reply from st. */
int write_old_reply(asfsvcctl *ctl, int kind, Writer &out, const pfstatus *st) {
  if (st->subkind == asc_sub_list) {
    int32_t count = st->list != nullptr && st->list->str != nullptr ? st->list->count : 0;
    if (count > ASC_MAX_LISTED) count = ASC_MAX_LISTED;
    for (int32_t i = 0; i < count; ++i) {
      const char *name = st->list->str[i];
      if (name == nullptr) {
        out.u16(0xFFFF);
        continue;
      }
      size_t n = std::strlen(name);
      if (n > 0xFFFE) return fail(ctl, ASC_ERR_PROTOCOL);
      out.u16(static_cast<uint32_t>(n));
      out.bytes(name, static_cast<int32_t>(n));
      if ((n & 1) != 0) out.bytes("", 1);
    }
    /* The reader stops at a length of 0. */
    out.u16(0);
  } else if (st->subkind != asc_sub_status) {
    return fail_hard(ctl, ASC_ERR_OLDREPLY);
  } else if (st->errnum != 0) {
    out.u16(old_error);
    out.u16(static_cast<uint32_t>(st->errnum));
    out.u16(static_cast<uint32_t>(st->isamerr));
    if (st->count > 0 && st->msgs != nullptr) {
      const pfmsgent &m = st->msgs[0];
      int32_t n = m.text != nullptr && m.length > 0 ? m.length : 0;
      if (n + 1 > 0xFFFF) return fail(ctl, ASC_ERR_PROTOCOL);
      out.u16(static_cast<uint32_t>(m.offset));
      out.u16(static_cast<uint32_t>(n + 1));
      out.bytes(m.text, n);
      out.bytes("", 1);
      if (((n + 1) & 1) != 0) out.bytes("", 1);
    } else {
      out.u16(0);
      out.u16(0);
    }
    out.u16(old_ok);
  } else if (kind != asc_kind_nodb) {
    out.u16(old_accept);
    out.u16(static_cast<uint32_t>(st->warnbits));
    for (int i = 0; i < 3; ++i)
      out.u32(0);
    out.u16(old_ok);
  }
  return out.ok ? 0 : fail(ctl, ASC_ERR_PROTOCOL);
}

}  // namespace

extern "C" {

int _ienvcat(char *buf, int room, const char *name, const char *value) {
  size_t len = std::strlen(buf);
  size_t n = std::strlen(or_empty(name)), v = std::strlen(or_empty(value));
  if (room < 0 || len + 1 + n + 1 + v >= static_cast<size_t>(room)) return -1;
  char *p = buf + len;
  *p++ = ' ';
  std::memcpy(p, or_empty(name), n);
  p += n;
  *p++ = '=';
  std::memcpy(p, or_empty(value), v + 1);
  return 0;
}

int needAscBinary(const ascbinreq *params, const evlist_t *envlist) {
  auto has = [](const char *s, const char *set) { return s != nullptr && std::strpbrk(s, set); };
  // The text line finds its words by position: a word that is missing
  // would let the next one take its place.
  auto empty = [](const char *s) { return s == nullptr || s[0] == '\0'; };
  if (params != nullptr && (has(params->user, " ") || has(params->password, " "))) return 1;
  if (params != nullptr &&
      (empty(params->user) || empty(params->version) || empty(params->clientid) ||
       has(params->version, " ") || has(params->clientid, " ")))
    return 1;
  if (envlist != nullptr && envlist->names != nullptr && envlist->values != nullptr)
    for (int32_t i = 0; i < envlist->count; ++i)
      if (has(envlist->names[i], " =") || has(envlist->values[i], " =")) return 1;
  return 0;
}

int build50aros(asfsvcctl *ctl, rscbufctl *buf, const char *login, const ascbinreq *params,
                const char *options, const evlist_t *envlist) {
  if (buf == nullptr || buf->p == nullptr || params == nullptr)
    return fail_hard(ctl, ASF_ERR_BADARGS);
  int room = buf->size;
  if (room < 1) return fail_hard(ctl, ASF_ERR_MEMORY);
  int n = std::snprintf(buf->p, static_cast<size_t>(room), "sqlexec %s %s %s %s %s -f%s",
                        or_empty(params->user), or_empty(login), or_empty(params->version),
                        or_empty(params->clientid), or_empty(options), ASC_FLOAT_FORMAT);
  if (n < 0 || n >= room) return fail_hard(ctl, ASF_ERR_MEMORY);
  if (envlist != nullptr && envlist->names != nullptr && envlist->values != nullptr)
    for (int32_t i = 0; i < envlist->count; ++i)
      if (_ienvcat(buf->p, room, envlist->names[i], envlist->values[i]) != 0)
        return fail_hard(ctl, ASF_ERR_MEMORY);
  buf->size = static_cast<int32_t>(std::strlen(buf->p)) + 1;
  return 0;
}

int parse_request(rscbufctl *buf, char **words, int max) {
  if (buf == nullptr || buf->p == nullptr || buf->size < 0 || buf->p[buf->size] != '\0') return -1;
  int count = 0;
  char *p = buf->p, *end = buf->p + buf->size;
  while (p < end) {
    while (p < end && (*p == ' ' || *p == '\n'))
      *p++ = '\0';
    if (p >= end || *p == '\0') break;
    if (count == max) return -1;
    words[count++] = p;
    while (p < end && *p != ' ' && *p != '\n' && *p != '\0')
      ++p;
  }
  return count;
}

int pfchkarg4(asfsvcctl *ctl, pfconkind *ck, int count, char **words) {
  const char *opt = word_at(count, words, 5);
  if (ck == nullptr || opt == nullptr || opt[0] != '-') return fail(ctl, ASC_ERR_PROTOCOL);
  bool ok = true;
  char letter = opt[1];
  switch (letter) {
    case 'c':
    case 'd':
    case 'n':
    case 'r':
    case 's':
      ok = set_str(&ck->str[asc_str_dbname], empty(opt + 2) ? nullptr : opt + 2) &&
           set_str(&ck->str[asc_str_server], entry_server(ctl));
      ck->flags &= ~(asc_flag_logword | asc_flag_logpath);
      break;
    default:
      break;
  }
  switch (letter) {
    case 'c':
      ck->kind = asc_kind_create;
      ok = ok && take_log_argument(ck, count, words) && create_log_word(ck, count, words);
      break;
    case 'd':
      ck->kind = asc_kind_open;
      if (starts(word_at(count, words, 6), "-e")) ck->flags |= asc_flag_exclusive;
      break;
    case 'n': {
      ck->kind = asc_kind_distopen;
      const char *w = word_at(count, words, 6);
      if (w != nullptr && std::strcmp(w, "-a") == 0) ck->flags |= asc_flag_loga;
      if (w != nullptr && std::strcmp(w, "-l") == 0) ck->flags |= asc_flag_logl;
      if (w != nullptr && std::strcmp(w, "-n") == 0) ck->flags |= asc_flag_distn;
      break;
    }
    case 'r':
      ck->kind = asc_kind_drop;
      break;
    case 's': {
      if (count < 6) return fail(ctl, ASC_ERR_PROTOCOL);
      ck->kind = asc_kind_start;
      ok = ok && take_log_argument(ck, count, words);
      ck->flags = (ck->flags & ~asc_flag_logword) | asc_flag_logpath;
      const char *w = word_at(count, words, 7);
      if (starts(w, "-a") || starts(w, "-l")) {
        ck->flags |= w[1] == 'a' ? asc_flag_loga : asc_flag_logl;
        if (w[2] != '\0') ok = ok && set_str(&ck->str[asc_str_logfile], w + 2);
      }
      break;
    }
    case 'p':
      ck->kind = asc_kind_nodb;
      break;
    case 't':
      ck->kind = asc_kind_tape;
      break;
    case 'V':
      ck->kind = asc_kind_version;
      break;
    case 'l':
      ck->kind = asc_kind_dblist;
      ok = set_str(&ck->str[asc_str_logarg], empty(opt + 2) ? nullptr : opt + 2) &&
           set_str(&ck->str[asc_str_server], nullptr) && set_str(&ck->str[asc_str_dbname], nullptr);
      break;
    case 'X':
      ck->kind = asc_kind_connect;
      ok = set_str(&ck->str[asc_str_dbname], empty(opt + 2) ? nullptr : opt + 2);
      break;
    default:
      return fail(ctl, ASC_ERR_PROTOCOL);
  }
  if (ok) ok = str_gtrid(ck, count, words);
  return ok ? 0 : fail_hard(ctl, ASF_ERR_MEMORY);
}

int ascString(asfsvcctl *ctl, int mode, rscbufctl *buf, int32_t *level, ascbinreq **params,
              pfrequest **request, evlist_t **envlist, asfprocinfo *procinfo, pfdatafmt *fmt) {
  if (buf == nullptr || buf->p == nullptr || buf->size < 0) return fail_hard(ctl, ASF_ERR_BADARGS);
  if (mode == asc_mode_write) {
    if (request == nullptr || *request == nullptr || (*request)->type != asc_pf_conkind ||
        (*request)->rec == nullptr)
      return fail_hard(ctl, ASC_ERR_NOOUTPUT);
    if (params == nullptr || *params == nullptr || level == nullptr)
      return fail_hard(ctl, ASF_ERR_BADARGS);
    const auto *ck = static_cast<const pfconkind *>((*request)->rec);
    ascbinreq *p = *params;
    if (ck->kind < 0 || ck->kind >= static_cast<int32_t>(std::size(option_writers)) ||
        option_writers[ck->kind] == nullptr)
      return fail_hard(ctl, ASF_ERR_BADARGS);
    Options o;
    option_writers[ck->kind](o, ck);
    if (!empty(ck->str[asc_str_group])) {
      o.add((ck->flags & asc_flag_grouparg) != 0 ? " -gr " : " -g ");
      o.add(ck->str[asc_str_group]);
      if (!empty(ck->str[asc_str_grouparg])) {
        o.add(" ");
        o.add(ck->str[asc_str_grouparg]);
      }
    }
    if (!o.ok) return fail_hard(ctl, ASF_ERR_MEMORY);
    std::string login = p->password != nullptr ? std::string("-p") + p->password : std::string();
    int32_t room = buf->size;
    rscbufctl line = *buf;
    if (build50aros(ctl, &line, login.c_str(), p, o.text,
                    envlist != nullptr ? *envlist : nullptr) != 0)
      return -1;
    int32_t len = line.size - 1;
    if (len + 2 >= room) return fail_hard(ctl, ASF_ERR_MEMORY);
    buf->p[len] = ' ';
    buf->p[len + 1] = ':';
    ascmrec m {};
    m.level = *level;
    m.pairs = p->pairs;
    std::memcpy(m.word, p->word, sizeof m.word);
    std::memcpy(m.progname, p->progname, sizeof m.progname);
    m.pfname = p->pfname;
    m.kind = ck->kind;
    m.flags = ck->flags;
    m.server = ck->str[asc_str_server];
    rscbufctl text {};
    text.p = buf->p + len + 2;
    text.size = room - (len + 2) - 1;
    int32_t code = asc_sec_text;
    if (ascScatter(ctl, asc_mode_write, &text, &code, &m, level, nullptr, nullptr, nullptr,
                   procinfo, nullptr) != 0)
      return -1;
    int32_t total = len + 2 + text.size;
    buf->p[total] = '\0';
    buf->size = total + 1;
    return 0;
  }
  if (mode != asc_mode_read) return fail_hard(ctl, ASF_ERR_BADARGS);

  char *words[ASC_MAX_WORDS];
  int count = parse_request(buf, words, ASC_MAX_WORDS);
  if (count <= 0) return fail(ctl, ASC_ERR_PROTOCOL);
  if (level == nullptr || params == nullptr || procinfo == nullptr)
    return fail_hard(ctl, ASC_ERR_NOOUTPUT);
  *level = 0;
  *params = nullptr;
  if (request != nullptr) *request = nullptr;
  if (envlist != nullptr) *envlist = nullptr;
  clear_procinfo(procinfo);
  pfdatafmt scratch_fmt {};
  if (fmt == nullptr) fmt = &scratch_fmt;

  /* The password word goes; the words after it move up by one. */
  const char *password = nullptr;
  if (count >= 3 && starts(words[2], "-p")) {
    password = words[2] + 2;
    for (int i = 2; i + 1 < count; ++i)
      words[i] = words[i + 1];
    --count;
  }
  if (has_unnamed_env_word(count, words)) return fail(ctl, ASC_ERR_PROTOCOL);

  ascmrec m {};
  bool have_m = false;
  for (int n = count; n >= 5; --n) {
    if (words[n - 1][0] != ':') continue;
    rscbufctl text {};
    text.p = words[n - 1] + 1;
    text.size = static_cast<int32_t>(std::strlen(text.p));
    int32_t code = 0;
    if (ascScatter(ctl, asc_mode_read, &text, &code, &m, level, params, request, envlist, procinfo,
                   fmt) != 0) {
      ascFreeMrec(&m);
      return -1;
    }
    if (code == asc_sec_level) return 0;
    have_m = true;
    *level = m.level;
    break;
  }

  str_pltxflags(fmt, count, words);
  int rc = 0;
  auto *p = static_cast<ascbinreq *>(asf_alloc(pool, sizeof(ascbinreq)));
  if (p == nullptr) {
    ascFreeMrec(&m);
    return fail_hard(ctl, ASF_ERR_MEMORY);
  }
  *params = p;
  p->userkind = 1;
  bool ok = set_str(&p->user, word_at(count, words, 2)) && set_str(&p->password, password) &&
            set_str(&p->version, word_at(count, words, 3)) &&
            set_str(&p->clientid, word_at(count, words, 4));
  if (have_m) {
    std::memcpy(p->progname, m.progname, sizeof p->progname);
    p->pfname = m.pfname;
    m.pfname = nullptr;
    std::memcpy(p->word, m.word, sizeof p->word);
    p->pairs = m.pairs;
  } else {
    std::snprintf(p->progname, sizeof p->progname, "%s", "sqlexec");
    p->pairs.level = 50;
    p->pairs.version = 1;
  }
  if (!ok) rc = fail_hard(ctl, ASF_ERR_MEMORY);

  if (rc == 0 && request != nullptr) {
    auto *req = static_cast<pfrequest *>(asf_alloc(pool, sizeof(pfrequest)));
    auto *ck = static_cast<pfconkind *>(asf_alloc(pool, sizeof(pfconkind)));
    if (req != nullptr) {
      *request = req;
      req->type = asc_pf_conkind;
      req->rec = ck;
    }
    if (req == nullptr || ck == nullptr) {
      if (ck != nullptr) asf_free(pool, ck);
      rc = fail_hard(ctl, ASF_ERR_MEMORY);
    } else {
      const char *opt = word_at(count, words, 5);
      if (opt != nullptr && opt[0] == '-') rc = pfchkarg4(ctl, ck, count, words);
      if (rc == 0 && have_m) {
        ck->kind = m.kind;
        ck->flags = m.flags;
        if (ck->str[asc_str_server] != nullptr) asf_free(pool, ck->str[asc_str_server]);
        ck->str[asc_str_server] = m.server;
        m.server = nullptr;
      }
    }
  }
  if (rc == 0 && envlist != nullptr) rc = env_from_words(ctl, envlist, count, words);
  ascFreeMrec(&m);
  return rc;
}

int asc50resp(asfsvcctl *ctl, int kind, int mode, rscbufctl *buf, int32_t *level,
              ascbinreq **params, pfrequest **request, evlist_t **envlist, asfprocinfo *procinfo,
              pfdatafmt *fmt) {
  if (buf == nullptr || (buf->p == nullptr && buf->size != 0) || buf->size < 0)
    return fail_hard(ctl, ASF_ERR_BADARGS);
  if (mode == asc_mode_write) {
    if (request == nullptr || *request == nullptr || (*request)->type != asc_pf_status ||
        (*request)->rec == nullptr)
      return fail_hard(ctl, ASC_ERR_OLDREPLY);
    Writer out {buf->p, 0, buf->size};
    int rc = write_old_reply(ctl, kind, out, static_cast<const pfstatus *>((*request)->rec));
    if (rc == 0) buf->size = out.used;
    return rc;
  }
  if (mode != asc_mode_read) return fail_hard(ctl, ASF_ERR_BADARGS);
  if (level == nullptr || procinfo == nullptr || fmt == nullptr)
    return fail_hard(ctl, ASC_ERR_NOOUTPUT);
  *level = 0;
  if (params != nullptr) *params = nullptr;
  if (request != nullptr) *request = nullptr;
  if (envlist != nullptr) *envlist = nullptr;
  clear_procinfo(procinfo);
  fmt->word[0] = fmt->word[1] = fmt->word[2] = 16;
  fmt->word[3] = 1;
  fmt->word[5] = 0;

  if (params != nullptr) {
    auto *p = static_cast<ascbinreq *>(asf_alloc(pool, sizeof(ascbinreq)));
    if (p == nullptr) return fail_hard(ctl, ASF_ERR_MEMORY);
    *params = p;
    std::snprintf(p->progname, sizeof p->progname, "%s", "srvdvz");
    if (!set_str(&p->version, "") || !set_str(&p->clientid, "") || !set_str(&p->pfname, ""))
      return fail_hard(ctl, ASF_ERR_MEMORY);
    p->pairs.level = 0;
    p->pairs.version = 1;
  }
  pfrequest *req = new_status_request();
  if (req == nullptr) return fail_hard(ctl, ASF_ERR_MEMORY);
  Reader in {reinterpret_cast<const unsigned char *>(buf->p), buf->size};
  int rc = read_old_reply(ctl, kind, in, static_cast<pfstatus *>(req->rec));
  if (request != nullptr)
    *request = req;
  else
    ascFreeRequest(req);
  buf->p = const_cast<char *>(reinterpret_cast<const char *>(in.p));
  buf->size = in.left;
  return rc;
}

int ascBuildRequest(asfsvcctl *ctl, rscbufctl *buf, int32_t level, ascbinreq *params,
                    pfrequest *request, evlist_t *envlist, asfprocinfo *procinfo, int *form) {
  if (buf == nullptr || buf->p == nullptr || params == nullptr || form == nullptr)
    return fail_hard(ctl, ASF_ERR_BADARGS);
  if (request != nullptr && request->type != asc_pf_conkind && request->type != asc_pf_opaque)
    return fail_hard(ctl, ASF_ERR_BADARGS);
  int32_t room = buf->size < ASC_REQUEST_BUFSIZE ? buf->size : ASC_REQUEST_BUFSIZE;
  params->progname[ASC_PROGNAME_SIZE - 1] = '\0';
  std::string_view prog(params->progname);
  bool text = request != nullptr && request->type == asc_pf_conkind &&
              (prog == "sqlexec" || prog == "srvdvz") && needAscBinary(params, envlist) == 0;
  int32_t used;
  if (text) {
    rscbufctl out = *buf;
    out.size = room;
    if (ascString(ctl, asc_mode_write, &out, &level, &params, &request, &envlist, procinfo,
                  nullptr) != 0)
      return -1;
    used = out.size;
    *form = asc_form_text;
  } else {
    if (room < 3) return fail(ctl, ASC_ERR_PROTOCOL);
    Writer start {buf->p, 0, room};
    start.u16(asc_sec_start);
    rscbufctl out = *buf;
    out.p = buf->p + 2;
    out.size = room - 2;
    if (ascBinary(ctl, asc_mode_write, &out, &level, &params, &request, &envlist, procinfo,
                  nullptr) != 0)
      return -1;
    Writer end {buf->p, 2 + out.size, room};
    end.u16(asc_sec_end);
    if (!end.ok) return fail(ctl, ASC_ERR_PROTOCOL);
    used = end.used;
    *form = asc_form_binary;
  }
  /* The session header's length counts its own 6 bytes and may not pass
  ** 2056: a longer request could only be cut or refused by the peer. */
  if (used > ASC_REQUEST_MAX) return fail_hard(ctl, ASC_ERR_PROTOCOL);
  buf->size = used;
  return 0;
}

}  // extern "C"
