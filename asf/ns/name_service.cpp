/*
** The name service: turns a name request into the registry `NSReg`, the
** ordered candidate servers the connection manager tries and the
** directory service hands to the runtime. Reads the sqlhosts file through
** the sqlhosts services (server entries, groups, options), DBPATH through
** the client environment, the database's real location through the
** operating-system services and the user's .netrc through netrc.cpp.
**
** Every string of an entry is a pool-1 allocation of its own, freed by
** ASF_FreeNSReg; an entry that fails half-way is emptied before the
** failure is returned, so a registry never holds a half-made entry and a
** failed build frees everything it made.
*/
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include "asf_al.h"
#include "asf_memory.h"
#include "asf_ns.h"
#include "asf_sqlhosts.h"
#include "asf_tl.h"
#include "os_context.h"
#include "os_env.h"
#include "os_wrappers.h"
#include "tl_records.h"

namespace {

/* Longest server name and longest database name or path. */
constexpr size_t server_max = NS_SERVER_SIZE - 1;
constexpr size_t path_max = NS_DBNAME_SIZE - 1;

/* Products the client reaches directly; any other (non-empty) product is
** a gateway reached through a pipe to its gateway program. */
constexpr std::string_view direct_products[] = {"on", "ol", "se", "raw", "dr"};
/* Products whose servers refuse a local path and take "//server/name". */
constexpr std::string_view online_products[] = {"on", "ol"};

/* The interface-protocol of a pipe to a local program. */
constexpr const char *pipe_protocol = "ipcpip";

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

bool is_one_of(std::string_view s, const std::string_view *list, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (s == list[i]) return true;
  return false;
}

template <size_t N>
bool is_one_of(std::string_view s, const std::string_view (&list)[N]) {
  return is_one_of(s, list, N);
}

/* s up to its first white-space character. */
std::string_view up_to_space(std::string_view s) {
  size_t n = 0;
  while (n < s.size() && !is_space(s[n]))
    ++n;
  return s.substr(0, n);
}

/* Copies s into out (REQUIRES: s.size() < size). */
void put(char *out, std::string_view s) {
  std::memcpy(out, s.data(), s.size());
  out[s.size()] = '\0';
}

/* Copies s into out (size bytes), cut to fit. */
void put_cut(char *out, size_t size, std::string_view s) {
  put(out, s.size() < size ? s : s.substr(0, size - 1));
}

/* A new pool-1 copy of s, or null when memory is short. */
char *new_string(std::string_view s) {
  auto *copy = static_cast<char *>(asf_alloc(asf_pool_assoc, s.size() + 1));
  if (copy != nullptr) put(copy, s);
  return copy;
}

/* path with the characters after its last '/' lower-cased. */
std::string lower_base(std::string_view path) {
  std::string out(path);
  size_t slash = out.rfind('/');
  for (size_t i = slash == std::string::npos ? 0 : slash + 1; i < out.size(); ++i)
    out[i] = static_cast<char>(_ix2lowmap[static_cast<unsigned char>(out[i])]);
  return out;
}

/* The installation directory: DOVARIZADIR, or the default. */
std::string installation_dir() {
  const char *dir = ggetenv("DOVARIZADIR");
  return dir != nullptr && dir[0] != '\0' ? dir : DVZ_DEFAULT_DOVARIZADIR;
}

bool is_group(const SvrInfo &info) { return std::strcmp(info.nettype, "group") == 0; }

/* Empties entry e of its strings and fields after a failed add. */
void clear_entry(NSEntry *e) {
  frNSEntry(asf_pool_assoc, e, 0);
  std::memset(e, 0, sizeof *e);
}

/* A group holding one server that is not a group. */
struct single_group {
  SvrGroupNode node;
  SvrGroup list;
  explicit single_group(const SvrInfo &info) : node {info, nullptr}, list {1, &node} {}
};

/* What a build holds besides the registry, released on every return. */
struct build_holdings {
  fbuf *file = nullptr;
  SvrGroup group {};
  SvrGroup work {};
  build_holdings() = default;
  build_holdings(const build_holdings &) = delete;
  build_holdings &operator=(const build_holdings &) = delete;
  ~build_holdings() {
    ASF_FreeSvrGroup(&group);
    ASF_FreeSvrGroup(&work);
    if (file != nullptr) closeSqlhosts(file);
  }
};

/* The gateway address text of info: a pipe to the gateway program of its
** product, which is told the real server's address. */
std::string gateway_address(const SvrInfo &info) {
  std::string dir = installation_dir();
  if (dir.back() != '/') dir += '/';
  std::string text = "||ipcpip&";
  text.append(info.host).append("|").append(info.service).append("|").append(info.protocol);
  text.append("&se&").append(info.product);
  text.append("|").append(dir).append("bin/sqlgw").append(info.product).append(info.protocol);
  text.append("|").append(pipe_protocol);
  return text;
}

/* The entries of a name request that goes through sqlhosts: the server's
** members, then (mode 0, no server named, a database) DBPATH's. server and
** db are the split name request; db may lose a leading slash. */
int add_from_sqlhosts(int mode, const nsuserinfo *ui, const nsnamereq *req, const char *server,
                      char *db, NSReg *reg) {
  build_holdings held;
  held.file = openSqlhosts(0);
  if (held.file == nullptr) return ASF_ERR_HOSTSOPEN;
  SvrInfo info;
  int rc = getSvrInfo(held.file, server, &info);
  if (rc != 0) return rc;
  single_group one(info);
  const SvrGroup *members = &one.list;
  if (is_group(info)) {
    rc = GetSvrGroup(held.file, info.name, &info, &held.group);
    if (rc != 0) return rc;
    members = &held.group;
  }
  /* "//server/name" names the database name on an online server. */
  bool slash_form = req->kind == ns_req_dbenv && std::strncmp(req->text, "//", 2) == 0;
  if (slash_form && members->first != nullptr &&
      is_one_of(members->first->info.product, online_products) && db[0] == '/' && slashCnt(db) == 1)
    std::memmove(db, db + 1, std::strlen(db));

  bool named = server[0] != '\0';
  if ((named && db[0] == '\0') || req->kind == ns_req_server)
    return nsAddGroup(held.file, members, nullptr, ui, reg, server, 0);
  rc = nsAddGroup(held.file, members, db, ui, reg, server, 0);
  if (rc == 0 && mode == 0 && !named) rc = nsDoDbpath(held.file, db, members, ui, reg, &held.work);
  return rc;
}

/* Records a failure in ctl: -1. */
int fail(asfsvcctl *ctl, int status) {
  ctl->asfcode = status;
  ctl->oserr = 0;
  return -1;
}

}  // namespace

extern "C" {

int nsInit(void) { return 0; }
int nsTerm(void) { return 0; }
int nsIsTransBridge(void) { return 0; }

int slashCnt(const char *text) {
  int n = 0;
  for (const char *p = text; p != nullptr && *p != '\0'; ++p)
    if (*p == '/') ++n;
  return n;
}

int isLocHost(const char *host) {
  if (host == nullptr || host[0] == '\0') return 0;
  if (std::strcmp(host, "localhost") == 0) return 1;
  char node[ASF_NODENAME_SIZE];
  return rhostname(node, sizeof node) == 0 && std::strcmp(node, host) == 0 ? 1 : 0;
}

int nsIsGateway(const char *product) {
  if (product == nullptr || product[0] == '\0') return 0;
  return is_one_of(product, direct_products) ? 0 : 1;
}

int nsIsLocalSE(const SvrInfo *info) {
  return info != nullptr && std::strcmp(info->product, "se") == 0 && isLocHost(info->host) ? 1 : 0;
}

int nsDbnExist(const char *path) {
  if (path == nullptr || path[0] == '\0') return 0;
  std::string_view p(path);
  std::string file = p.back() == '/' ? std::string(p) : lower_base(p) + ".dbs";
  return access(file.c_str(), F_OK) == 0 ? 1 : 0;
}

int nsOmit(const SvrInfo *member, const char *path) {
  if (member == nullptr) return 1;
  bool has_path = path != nullptr && path[0] != '\0';
  if (has_path && nsIsLocalSE(member)) return nsDbnExist(path) ? 0 : 1;
  if (has_path && is_one_of(member->product, online_products) &&
      std::strchr(path, '/') != nullptr && std::strncmp(path, "//", 2) != 0)
    return 1;
  return 0;
}

int parseSlashDbenv(const char *text, char *server, char *path) {
  server[0] = '\0';
  path[0] = '\0';
  if (text == nullptr) return 0;
  std::string_view t(text);
  if (!t.starts_with("//")) {
    if (t.size() > path_max) return NS_ERR_DBNAME;
    put(path, t);
    return 0;
  }
  t.remove_prefix(2);
  size_t slash = t.find('/');
  std::string_view name = t.substr(0, slash);
  if (name.size() > server_max) return NS_ERR_SLASHSVR;
  if (slash == std::string_view::npos) {
    put(server, name);
    return 0;
  }
  std::string_view rest = up_to_space(t.substr(slash));
  if (rest.size() > path_max) return NS_ERR_DBNAME;
  put(server, name);
  put(path, rest);
  return 0;
}

int parseDbenv(const char *text, char *server, char *db) {
  server[0] = '\0';
  db[0] = '\0';
  if (text == nullptr || text[0] == '\0') return 0;
  int err = 0;
  int at = scan_for_at(text, &err);
  if (err == -1) return parseSlashDbenv(text, server, db);
  if (err != 0 || at < 0) return NS_ERR_DBNAME;
  std::string_view t(text);
  std::string_view name = t.substr(0, static_cast<size_t>(at));
  std::string_view host = up_to_space(t.substr(static_cast<size_t>(at) + 1));
  if (name.size() > path_max || host.size() > server_max) return NS_ERR_DBNAME;
  put(db, name);
  put(server, host);
  return 0;
}

int nsGetDbpentry(const char *text, char *element, const char **rest) {
  element[0] = '\0';
  *rest = nullptr;
  if (text == nullptr) return 0;
  std::string_view t(text);
  size_t colon = t.find(':');
  std::string_view e = t.substr(0, colon);
  if (e.size() >= path_max) return NS_ERR_DBPATHLEN;
  put(element, e);
  if (colon != std::string_view::npos) *rest = text + colon + 1;
  return 0;
}

int nsNewDbenv(const char *element, const char *db, char *server, char *path) {
  server[0] = '\0';
  path[0] = '\0';
  std::string_view e(element != nullptr ? element : "");
  std::string_view name(db != nullptr ? db : "");
  std::string_view dir = e;
  if (e.starts_with("//")) {
    std::string_view rest = e.substr(2);
    size_t slash = rest.find('/');
    std::string_view host = rest.substr(0, slash);
    if (host.size() > server_max) return NS_ERR_DBPATHLEN;
    put(server, host);
    dir = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
  }
  std::string result(dir.empty() ? name : dir);
  if (!dir.empty()) {
    if (result.back() != '/') result += '/';
    result += name;
  }
  if (result.size() > path_max) return NS_ERR_DBPATHLEN;
  put(path, result);
  return 0;
}

int nsExpandDbn(fbuf *f, const SvrInfo *info, const char *db, SvrInfo *out, int *omit, char *path) {
  *out = *info;
  path[0] = '\0';
  std::string name = lower_base(db != nullptr ? db : "");
  char host[ASF_NODENAME_SIZE];
  int rc = _osrealdbn(name.c_str(), path, NS_DBNAME_SIZE, host, sizeof host);
  if (rc != 0) return rc;
  if (host[0] == '\0' || std::strcmp(host, info->host) == 0 || std::strcmp(host, info->name) == 0)
    return 0;
  SvrInfo other;
  rc = getSvrInfo(f, host, &other);
  if (rc == 0) {
    *out = other;
    return 0;
  }
  if (rc != ASF_ERR_NOSERVER) return rc;
  put_cut(out->name, sizeof out->name, host);
  *omit = NS_ERR_REMOTEDB;
  return 0;
}

int nsGenAddr(const SvrInfo *info, NSEntry *e) {
  if (info == nullptr || e == nullptr) return -1;
  std::string text;
  if (nsIsGateway(info->product)) {
    text = gateway_address(*info);
  } else {
    std::string service = info->service;
    if (std::strcmp(info->protocol, pipe_protocol) == 0 && !service.starts_with('/')) {
      bool bare = service.find('/') == std::string::npos;
      service = installation_dir() + "/" + (bare ? "lib/" : "") + service;
      if (service.size() > path_max) return -1;
    }
    text.append(info->host).append("|").append(service).append("|").append(info->protocol);
  }
  e->addrtext = new_string(text);
  if (e->addrtext == nullptr) return ASF_ERR_MEMORY;
  e->addrkind = 1;
  return 0;
}

int nsGetUsrid(const char *host, const nsuserinfo *ui, NSEntry *e) {
  if (ui == nullptr || e == nullptr || ui->user == nullptr || ui->user[0] == '\0') return -1;
  const char *user = ui->user;
  const char *password = ui->password;
  int kind = ui->kind;
  char login[NS_NETRC_SIZE];
  char found[NS_NETRC_SIZE];
  bool no_password = password == nullptr || password[0] == '\0';
  bool may_ask = kind == ns_user_password || kind == ns_user_current;
  if (no_password && may_ask && (e->options.netrc & 1) != 0 &&
      (!isLocHost(host) || ggetenv("DID_ERARE_RURIDE") != nullptr)) {
    int rc = _osnrclookup(host, user, login, found);
    if (rc == ASF_ERR_MEMORY) return rc;
    if (rc == 0 && found[0] != '\0') {
      kind = ns_user_password;
      password = found;
      user = login;
    }
  }
  e->loginkind = kind;
  e->userword = ui->word;
  e->credential = kind == ns_user_credential ? ui->credential : nullptr;
  e->user = new_string(user);
  if (e->user == nullptr) return ASF_ERR_MEMORY;
  if (password != nullptr) {
    e->password = new_string(password);
    if (e->password == nullptr) return ASF_ERR_MEMORY;
  }
  return 0;
}

int nsAddEntry(fbuf *f, const SvrInfo *info, const char *db, const nsuserinfo *ui, NSReg *reg,
               const char *server, int omit) {
  if (info == nullptr || reg == nullptr || reg->count < 0 || reg->count >= NS_MAX_ENTRIES)
    return -1;
  SvrInfo target = *info;
  char path[NS_DBNAME_SIZE] = "";
  bool named = server != nullptr && server[0] != '\0';
  if (db != nullptr && db[0] != '\0') {
    if (!named && nsIsLocalSE(info)) {
      int rc = nsExpandDbn(f, info, db, &target, &omit, path);
      if (rc != 0) return rc;
    } else {
      if (std::strlen(db) > path_max) return -1;
      put(path, db);
    }
    size_t len = std::strlen(path);
    if (len > 1 && path[len - 1] == '/') path[len - 1] = '\0';
  }

  NSEntry *e = &reg->entry[reg->count];
  std::memset(e, 0, sizeof *e);
  put_cut(e->product, sizeof e->product, target.product);
  put_cut(e->protocol, sizeof e->protocol,
          nsIsGateway(target.product) ? pipe_protocol : target.protocol);
  int rc = ASF_ParseSqlhOptions(&target, &e->options);
  if (rc == 0) {
    e->servername = new_string(target.name);
    if (e->servername == nullptr) rc = ASF_ERR_MEMORY;
  }
  if (rc == 0 && path[0] != '\0') {
    e->dbpath = new_string(path);
    if (e->dbpath == nullptr) rc = ASF_ERR_MEMORY;
  }
  if (rc == 0 && omit == 0) {
    rc = nsGenAddr(&target, e);
    if (rc == 0) rc = nsGetUsrid(target.host, ui, e);
  }
  if (rc != 0) {
    clear_entry(e);
    return rc;
  }
  e->omit = omit;
  ++reg->count;
  return 0;
}

int nsAddGroup(fbuf *f, const SvrGroup *list, const char *db, const nsuserinfo *ui, NSReg *reg,
               const char *server, int omit) {
  if (list == nullptr) return -1;
  for (const SvrGroupNode *n = list->first; n != nullptr; n = n->next) {
    int rc = nsAddEntry(f, &n->info, db, ui, reg, server, omit);
    if (rc != 0) return rc;
  }
  return 0;
}

int nsDoOmitTest(fbuf *f, const char *path, const SvrGroup *group, const nsuserinfo *ui, NSReg *reg,
                 int omit) {
  if (group == nullptr) return -1;
  for (const SvrGroupNode *n = group->first; n != nullptr; n = n->next) {
    if (nsOmit(&n->info, path)) continue;
    int rc = nsAddEntry(f, &n->info, path, ui, reg, nullptr, omit);
    if (rc != 0) return rc;
  }
  return 0;
}

int nsDoDbpath(fbuf *f, const char *db, const SvrGroup *group, const nsuserinfo *ui, NSReg *reg,
               SvrGroup *work) {
  if (reg == nullptr || work == nullptr) return -1;
  const char *value = ggetenv("DBPATH");
  if (value == nullptr || value[0] == '\0' || reg->count >= NS_MAX_ENTRIES) return 0;
  /* A copy: the look-ups below may read the environment again. */
  const std::string dbpath(value);
  const char *next = dbpath.c_str();
  for (int i = 0; next != nullptr && i < NS_DBPATH_ELEMENTS && reg->count < NS_MAX_ENTRIES; ++i) {
    char element[NS_DBNAME_SIZE];
    int rc = nsGetDbpentry(next, element, &next);
    if (rc != 0) return rc;
    char server[NS_SERVER_SIZE];
    char path[NS_DBNAME_SIZE];
    rc = nsNewDbenv(element, db, server, path);
    if (rc != 0) return rc;
    if (server[0] == '\0') {
      rc = nsDoOmitTest(f, path, group, ui, reg, 0);
    } else {
      SvrInfo info;
      rc = getSvrInfo(f, server, &info);
      if (rc == ASF_ERR_NOSERVER) {
        /* Kept so that its failure can be reported when nothing later
        ** connects; never tried. */
        SvrInfo missing {};
        put(missing.name, server);
        rc = nsAddEntry(f, &missing, path, ui, reg, nullptr, NS_ERR_DBPATHSVR);
      } else if (rc == 0 && is_group(info)) {
        rc = GetSvrGroup(f, info.name, &info, work);
        if (rc == 0) rc = nsDoOmitTest(f, path, work, ui, reg, 0);
        ASF_FreeSvrGroup(work);
      } else if (rc == 0) {
        single_group one(info);
        rc = nsDoOmitTest(f, path, &one.list, ui, reg, 0);
      }
    }
    if (rc != 0) return rc;
  }
  return 0;
}

int nsTLGenForm(NSReg *reg, const nsuserinfo *ui, int omit, const nsnamereq *req) {
  if (reg == nullptr || req == nullptr || req->text == nullptr) return -1;
  /* The caller's text stays as it is: the fields are cut from a copy. */
  std::string copy(req->text);
  char *host = dvz_strtok(copy.data(), "|");
  char *service = host != nullptr ? dvz_strtok(nullptr, "|") : nullptr;
  char *protocol = service != nullptr ? dvz_strtok(nullptr, "|") : nullptr;
  char *options = protocol != nullptr ? dvz_strtok(nullptr, "|") : nullptr;
  if (protocol == nullptr) return -1;

  NSEntry *e = &reg->entry[0];
  std::memset(e, 0, sizeof *e);
  int rc = nsGetUsrid(host, ui, e);
  if (rc == 0) {
    e->servername = new_string(host);
    std::string text = std::string(host) + "|" + service + "|" + protocol;
    e->addrtext = new_string(text);
    if (e->servername == nullptr || e->addrtext == nullptr) rc = ASF_ERR_MEMORY;
  }
  if (rc == 0) {
    put_cut(e->protocol, sizeof e->protocol, protocol);
    e->addrkind = 1;
    e->omit = omit;
    if (options != nullptr) {
      SvrInfo line {};
      std::string_view p(protocol);
      put_cut(line.protocol, sizeof line.protocol, p.size() > 2 ? p.substr(2) : std::string_view());
      put_cut(line.options, sizeof line.options, options);
      rc = ASF_ParseSqlhOptions(&line, &e->options);
    }
  }
  if (rc != 0) {
    clear_entry(e);
    return rc;
  }
  reg->count = 1;
  return 0;
}

int nsChkRegArgs(asfsvcctl *ctl, const nsuserinfo *ui, const nsnamereq *req, NSReg **out) {
  if (ctl == nullptr || req == nullptr || out == nullptr) return ASF_ERR_BADARGS;
  switch (req->kind) {
    case ns_req_default:
    case ns_req_server:
      break;
    case ns_req_address:
    case ns_req_dbenv:
      if (req->text == nullptr || req->text[0] == '\0') return ASF_ERR_BADARGS;
      break;
    default:
      return ASF_ERR_BADARGS;
  }
  if (ui != nullptr && ui->kind != ns_user_none && ui->kind != ns_user_password &&
      ui->kind != ns_user_credential)
    return ASF_ERR_BADARGS;
  return 0;
}

int nsGetRegistry(asfsvcctl *ctl, int mode, const nsuserinfo *ui, const nsnamereq *req,
                  NSReg **out) {
  if (out != nullptr) *out = nullptr;
  int rc = nsChkRegArgs(ctl, ui, req, out);
  if (ctl == nullptr) return -1;
  if (rc != 0) return fail(ctl, rc);

  auto *reg = static_cast<NSReg *>(asf_alloc(asf_pool_assoc, sizeof(NSReg)));
  if (reg == nullptr) return fail(ctl, ASF_ERR_MEMORY);
  reg->count = 0;

  /* Without a user (the directory service passes none) the current user
  ** logs in without password. */
  nsuserinfo user = ui != nullptr ? *ui : nsuserinfo {};
  char current[ASF_USERNAME_SIZE];
  bool no_name = user.user == nullptr || user.user[0] == '\0';
  if (user.kind == ns_user_none || (user.kind == ns_user_password && no_name)) {
    if (getCurUser(current) != 0) {
      rc = NS_ERR_NOUSER;
    } else {
      user.kind = ns_user_current;
      user.user = current;
      user.password = nullptr;
      user.credential = nullptr;
    }
  }

  char server[NS_SERVER_SIZE] = "";
  char db[NS_DBNAME_SIZE] = "";
  if (rc == 0 && req->kind == ns_req_dbenv) rc = parseDbenv(req->text, server, db);
  if (rc == 0) {
    if (req->kind == ns_req_address)
      rc = nsTLGenForm(reg, &user, 0, req);
    else
      rc = add_from_sqlhosts(mode, &user, req, server, db, reg);
  }
  if (rc == -1) rc = NS_ERR_INTERNAL;
  if (rc != 0) {
    ASF_FreeNSReg(reg);
    if (rc == ASF_ERR_NOSERVER) put_cut(ctl->errstr, ASF_ERRSTR_SIZE, server);
    return fail(ctl, rc);
  }
  ctl->asfcode = 0;
  ctl->oserr = 0;
  *out = reg;
  return 0;
}

}  // extern "C"
