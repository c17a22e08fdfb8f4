/*
** The sqlhosts file: opening it, reading and checking its entries, finding
** a server and expanding a server group. Called by the name service and
** the transport drivers; reads through the buffered reader (file_reader).
*/
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "asf_al.h"
#include "asf_memory.h"
#include "asf_sqlhosts.h"
#include "os_env.h"
#include "os_seams.h"
#include "os_stored.h"

namespace {

/* Longest line kept. */
constexpr int line_max = 1024;

/* Products always valid, and those valid except over "applu6". */
constexpr const char *plain_products[] = {"raw", "rd", "rt", "dr", "d2", "sr"};
constexpr const char *server_products[] = {"ol", "on", "se"};

/* Copies at most size - 1 bytes of s into out, NUL-terminated. */
void copy_cut(char *out, size_t size, const char *s, size_t length) {
  size_t n = length < size - 1 ? length : size - 1;
  std::memcpy(out, s, n);
  out[n] = '\0';
}

/* Splits the nettype into product and interface-protocol. */
void split_nettype(SvrInfo *info) {
  size_t len = std::strlen(info->nettype);
  if (len < 7) return;
  const char *t = info->nettype;
  if (len > 14) {
    t += len - 14;
    len = 14;
  }
  copy_cut(info->protocol, sizeof info->protocol, t + len - 6, 6);
  copy_cut(info->product, sizeof info->product, t, len - 6);
}

/* The server name to look for: the one given, or DOVARIZASERVER; 0, or
** -25560 / -25554. */
int resolve_name(const char *given, std::string &name, bool &from_env) {
  from_env = given == nullptr || given[0] == '\0';
  if (!from_env) {
    name = given;
    return 0;
  }
  const char *env = ggetenv("DOVARIZASERVER");
  if (env == nullptr) return ASF_ERR_NOSVRENV;
  if (std::strlen(env) >= 129) return ASF_ERR_SVRNAMELEN;
  name = env;
  return 0;
}

/* The file to read: the caller's, rewound, or the sqlhosts file, which
** the holder closes when it goes. */
class hosts_file {
 public:
  explicit hosts_file(fbuf *given) : file_(given) {
    if (given != nullptr) {
      asf_rwfbuf(given);
    } else {
      file_ = openSqlhosts(0);
      owned_ = true;
    }
  }
  ~hosts_file() {
    if (owned_) closeSqlhosts(file_);
  }
  hosts_file(const hosts_file &) = delete;
  hosts_file &operator=(const hosts_file &) = delete;
  fbuf *get() const { return file_; }

 private:
  fbuf *file_;
  bool owned_ = false;
};

/* The parsed options of an entry, their communication-support text freed
** with the holder. */
struct parsed_options {
  SqlhOptions opts {};
  ~parsed_options() {
    if (opts.csm != nullptr) asf_free(asf_pool_assoc, opts.csm);
  }
  int parse(const SvrInfo *info) {
    if (opts.csm != nullptr) asf_free(asf_pool_assoc, opts.csm);
    opts.csm = nullptr;
    return ASF_ParseSqlhOptions(info, &opts);
  }
};

/* Appends a copy of info to list: 0 or -406. */
int append_member(SvrGroup *list, SvrGroupNode **tail, const SvrInfo *info) {
  auto *node = static_cast<SvrGroupNode *>(asf_alloc(asf_pool_assoc, sizeof(SvrGroupNode)));
  if (node == nullptr) return ASF_ERR_MEMORY;
  node->info = *info;
  node->next = nullptr;
  if (*tail == nullptr)
    list->first = node;
  else
    (*tail)->next = node;
  *tail = node;
  ++list->count;
  return 0;
}

/* Rotates list so that member r (1-based) comes first. */
void rotate_to(SvrGroup *list, int r) {
  if (r < 2 || r > list->count) return;
  SvrGroupNode *before = list->first;
  for (int i = 2; i < r; ++i)
    before = before->next;
  SvrGroupNode *last = before;
  while (last->next != nullptr)
    last = last->next;
  last->next = list->first;
  list->first = before->next;
  before->next = nullptr;
}

/* Reads the members that follow the group's own line: 0 or an error. */
int read_members(fbuf *f, const std::string &name, const SqlhOptions &group, SvrGroup *list) {
  SvrInfo line;
  bool found = false;
  while (ASF_ReadHosts(f, &line) == 0) {
    if (stcmpr(line.name, name.c_str()) == 0) {
      found = true;
      break;
    }
  }
  if (!found) return 0;
  if (chkSvrInfo(&line) != 0) return ASF_ERR_BADENTRY;
  bool has_end = group.endgroup[0] != '\0';
  SvrGroupNode *tail = nullptr;
  parsed_options member;
  while (ASF_ReadHosts(f, &line) == 0) {
    if (chkSvrInfo(&line) != 0) return ASF_ERR_BADENTRY;
    int rc = member.parse(&line);
    if (rc != 0) return rc;
    bool is_end = has_end && stcmpr(line.name, group.endgroup) == 0;
    if (member.opts.group[0] == '\0') {
      if (!has_end || is_end) break;
      continue;
    }
    if (stcmpr(member.opts.group, name.c_str()) == 0) {
      rc = append_member(list, &tail, &line);
      if (rc != 0) return rc;
    }
    if (is_end) break;
  }
  return 0;
}

}  // namespace

extern "C" {

fbuf *openSqlhosts(int pool) {
  const char *path = ggetenv("DOVARIZASQLHOSTS");
  if (path != nullptr && path[0] != '\0') return asf_opfbuf(path, "r", pool);
  const char *dir = ggetenv("DOVARIZADIR");
  std::string full = dir != nullptr ? dir : "/usr/dovariza";
  if (full.empty() || full.back() != '/') full += '/';
  full += "etc/sqlhosts";
  return asf_opfbuf(full.c_str(), "r", pool);
}

fbuf *ASF_OpenHosts(int pool) { return openSqlhosts(pool); }

int closeSqlhosts(fbuf *f) { return asf_clfbuf(f); }

int ASF_CloseHosts(fbuf *f) { return asf_clfbuf(f); }

void initSvrInfo(SvrInfo *info) {
  if (info == nullptr) return;
  info->name[0] = '\0';
  info->nettype[0] = '\0';
  info->product[0] = '\0';
  info->protocol[0] = '\0';
  info->host[0] = '\0';
  info->service[0] = '\0';
}

int ASF_ReadHosts(fbuf *f, SvrInfo *info) {
  if (f == nullptr || info == nullptr) return -1;
  char line[line_max + 1];
  do {
    if (asf_fgetline(f, line, line_max) < 0) return -1;
  } while (line[0] == '#');
  initSvrInfo(info);
  info->options[0] = '\0';
  char *pos = line;
  asf_stoken(&pos, info->name, sizeof info->name - 1);
  asf_stoken(&pos, info->nettype, sizeof info->nettype - 1);
  asf_stoken(&pos, info->host, sizeof info->host - 1);
  asf_stoken(&pos, info->service, sizeof info->service - 1);
  while (*pos != '\0' && std::isspace(static_cast<unsigned char>(*pos)))
    ++pos;
  copy_cut(info->options, sizeof info->options, pos, std::strlen(pos));
  split_nettype(info);
  return 0;
}

int readSqlhosts(fbuf *f, SvrInfo *info) { return ASF_ReadHosts(f, info); }

int chkSvrInfo(const SvrInfo *info) {
  if (info == nullptr || info->name[0] == '\0') return -1;
  auto dash = [](const char *s) { return std::strcmp(s, "-") == 0; };
  if (dash(info->nettype) || dash(info->host) || dash(info->service)) return 0;
  if (info->nettype[0] == '\0' || info->product[0] == '\0' || info->protocol[0] == '\0' ||
      info->host[0] == '\0' || info->service[0] == '\0')
    return -1;
  for (const char *p : plain_products)
    if (std::strcmp(info->product, p) == 0) return 0;
  for (const char *p : server_products)
    if (std::strcmp(info->product, p) == 0)
      return std::strcmp(info->protocol, "applu6") == 0 ? -1 : 0;
  return -1;
}

int ASF_ChkSvrInfo(const SvrInfo *info) { return chkSvrInfo(info); }

int getSvrInfo(fbuf *f, const char *server, SvrInfo *info) {
  if (info == nullptr) return ASF_ERR_BADARGS;
  std::string name;
  bool from_env;
  int rc = resolve_name(server, name, from_env);
  if (rc != 0) return rc;
  hosts_file file(f);
  if (file.get() == nullptr) return ASF_ERR_HOSTSOPEN;
  while (ASF_ReadHosts(file.get(), info) == 0)
    if (stcmpr(info->name, name.c_str()) == 0) return chkSvrInfo(info) == 0 ? 0 : ASF_ERR_BADENTRY;
  return from_env ? ASF_ERR_ENVSERVER : ASF_ERR_NOSERVER;
}

int ASF_GetSvrInfo(fbuf *f, const char *server, SvrInfo *info) {
  return getSvrInfo(f, server, info);
}

void ASF_FreeSvrGroup(SvrGroup *list) {
  if (list == nullptr) return;
  for (SvrGroupNode *n = list->first; n != nullptr;) {
    SvrGroupNode *next = n->next;
    asf_free(asf_pool_assoc, n);
    n = next;
  }
  list->first = nullptr;
  list->count = 0;
}

int GetSvrGroup(fbuf *f, const char *name, const SvrInfo *group, SvrGroup *list) {
  if (group == nullptr || list == nullptr) return ASF_ERR_BADARGS;
  list->count = 0;
  list->first = nullptr;
  std::string resolved;
  bool from_env;
  int rc = resolve_name(name, resolved, from_env);
  if (rc != 0) return rc;
  hosts_file file(f);
  if (file.get() == nullptr) return ASF_ERR_HOSTSOPEN;
  parsed_options own;
  rc = own.parse(group);
  if (rc == 0) rc = read_members(file.get(), resolved, own.opts, list);
  if (rc == 0 && list->count == 0) rc = from_env ? ASF_ERR_ENVSERVER : ASF_ERR_NOSERVER;
  if (rc != 0) {
    ASF_FreeSvrGroup(list);
    return rc;
  }
  if (own.opts.redirect & 1) {
    unsigned r = static_cast<unsigned>(asf_rand()) % static_cast<unsigned>(list->count) + 1;
    rotate_to(list, static_cast<int>(r));
  }
  return 0;
}

int ASF_GetSvrGroup(fbuf *f, const char *name, const SvrInfo *group, SvrGroup *list) {
  return GetSvrGroup(f, name, group, list);
}

int asf_rand(void) {
  // Unsigned throughout: the product wraps instead of overflowing, and
  // keeping 31 bits makes the result non-negative without abs().
  uint32_t product = static_cast<uint32_t>(rand()) * static_cast<uint32_t>(os_clock->now());
  uint32_t pid = static_cast<uint32_t>(getpid());
  return static_cast<int>((product / (pid != 0 ? pid : 1)) & 0x7fffffffu);
}

int ASF_BufferHeader(int *word) {
  if (word == nullptr) return -1;
  *word = 10;
  return 0;
}

int check_for_valid_connect_thread(void) { return 0; }

int check_for_valid_thread(void) { return 0; }

}  // extern "C"
