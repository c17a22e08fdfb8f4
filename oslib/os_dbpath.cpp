/*
** Database paths: where a database name really lives. A database is a
** directory named <name>.dbs, possibly on a file system mounted from
** another host; _osrealdbn gives its absolute directory (without ".dbs")
** and that host. The name service of the association services resolves
** DBPATH entries and database names with it.
**
** Calls the mount seam (mount table and file-system type), gcvaccess and
** gcvchdir (os_conv.h) and ggetcwd (os_context.h). Making a path absolute
** enters it and comes back: the way back is a descriptor of the directory
** we left, so that every return, failures included, leaves the caller in
** the directory it was in. A mount point covers a path only at a
** component boundary (/m/a never covers /m/ab/x).
*/
#include <fcntl.h>
#include <mntent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "os_context.h"
#include "os_conv.h"
#include "os_env.h"
#include "os_seams.h"
#include "os_text_copy.h"
#include "os_wrappers.h"

using oslib_text::copy_whole;

namespace {

/* Room for a current directory, as ggetcwd takes it. */
constexpr int cwd_size = 1026;
constexpr std::string_view dbs_suffix = ".dbs";
constexpr size_t fs_type_size = 32;
constexpr int att_ns_line_size = 1024;

struct fd_closer {
  int fd;
  ~fd_closer() {
    if (fd >= 0) close(fd);
  }
};

struct free_deleter {
  void operator()(char *p) const { free(p); }
};

/* True when mount point covers path: path begins with it and goes on with
** "/" or ends there, or the mount point is the root. */
bool covers(std::string_view mount_point, std::string_view path) {
  if (mount_point.empty() || !path.starts_with(mount_point)) return false;
  if (mount_point == "/") return true;
  return path.size() == mount_point.size() || path[mount_point.size()] == '/';
}

bool is_rfs(const char *type) { return type != nullptr && strcasecmp(type, "rfs") == 0; }

/* Words of an att_ns output line, blank-separated. */
std::string_view next_word(std::string_view &line) {
  size_t start = line.find_first_not_of(" \t\n");
  if (start == std::string_view::npos) {
    line = {};
    return {};
  }
  line.remove_prefix(start);
  size_t end = line.find_first_of(" \t\n");
  std::string_view word = line.substr(0, end);
  line.remove_prefix(end == std::string_view::npos ? line.size() : end);
  return word;
}

/* The RFS name service: $DOVARIZADIR/lib/att_ns lists resources as lines
** "<resource> <host> <directory>". Looks up the part of host after its
** first "." and replaces host and remote by the line's second and third
** words; false when no line matches (host and remote stay). */
bool rfs_resolve(std::string &host, std::string &remote) {
  size_t dot = host.find('.');
  if (dot == std::string::npos) return false;
  std::string resource = host.substr(dot + 1);
  const char *dir = getenv("DOVARIZADIR");
  std::string program = std::string(dir != nullptr ? dir : DVZ_DEFAULT_DOVARIZADIR) + "/lib/att_ns";
  /* Single-quoted for the shell, each embedded quote closed and escaped. */
  std::string command = "'";
  for (char c : program)
    command += c == '\'' ? std::string("'\\''") : std::string(1, c);
  command += "'";
  FILE *p = popen(command.c_str(), "r");
  if (p == nullptr) return false;
  bool found = false;
  char line[att_ns_line_size];
  while (!found && fgets(line, sizeof line, p) != nullptr) {
    std::string_view rest = line;
    if (next_word(rest) != resource) continue;
    std::string_view new_host = next_word(rest);
    std::string_view new_remote = next_word(rest);
    host.assign(new_host);
    remote.assign(new_remote);
    found = true;
  }
  pclose(p);
  return found;
}

}  // namespace

extern "C" {

int isrmnttype(const char *type) {
  return type != nullptr && (strcasecmp(type, "nfs") == 0 || strcasecmp(type, "rfs") == 0) ? 1 : 0;
}

int split_fname(const char *path, char *dir, int dir_size, char *file, int file_size) {
  if (path == nullptr || dir == nullptr || file == nullptr) return -1;
  std::string_view p = path;
  size_t slash = p.rfind('/');
  std::string_view d = slash == std::string_view::npos ? "."
                       : slash == 0                    ? "/"
                                                       : p.substr(0, slash);
  std::string_view f = slash == std::string_view::npos ? p : p.substr(slash + 1);
  if (static_cast<size_t>(dir_size) <= d.size() || static_cast<size_t>(file_size) <= f.size() ||
      dir_size < 1 || file_size < 1)
    return -1;
  copy_whole(dir, dir_size, d);
  copy_whole(file, file_size, f);
  return 0;
}

int split_fsname(const char *resource, char *host, int host_size, char *path, int path_size) {
  if (resource == nullptr || host == nullptr || path == nullptr) return -1;
  std::string_view r = resource;
  size_t colon = r.find(':');
  std::string_view h = r.substr(0, colon);
  std::string_view p = colon == std::string_view::npos ? "" : r.substr(colon + 1);
  if (host_size < 1 || path_size < 1 || static_cast<size_t>(host_size) <= h.size() ||
      static_cast<size_t>(path_size) <= p.size())
    return -1;
  copy_whole(host, host_size, h);
  copy_whole(path, path_size, p);
  return 0;
}

/* Joins with exactly one "/": trailing slashes of the remote directory and
** leading slashes of the rest are dropped ("/" as remote gives "/rest"). */
int transmntnm(const char *path, const char *mount_point, const char *remote_dir, char *out,
               int out_size) {
  if (path == nullptr || mount_point == nullptr || out == nullptr) return -1;
  std::string_view p = path;
  std::string_view mp = mount_point;
  if (!p.starts_with(mp)) return -1;
  std::string_view rest = p.substr(mp.size());
  std::string_view remote = remote_dir != nullptr ? remote_dir : "";
  if (remote.empty()) return copy_whole(out, out_size, rest) ? 0 : -1;
  while (!remote.empty() && remote.back() == '/')
    remote.remove_suffix(1);
  while (!rest.empty() && rest.front() == '/')
    rest.remove_prefix(1);
  std::string joined = std::string(remote) + "/" + std::string(rest);
  return copy_whole(out, out_size, joined) ? 0 : -1;
}

int _osfullpath(char *path, int size, int *changed) {
  int unused = 0;
  int *was_changed = changed != nullptr ? changed : &unused;
  *was_changed = 0;
  if (path == nullptr || size < 1) return -1;
  if (gcvaccess(path, F_OK) != 0) return 0;
  /* The way back is a descriptor; the name is read only to refuse a
  ** current directory the library cannot name. */
  char cwd[cwd_size];
  if (ggetcwd(cwd) != 0) return OS_ERR_CWD;
  fd_closer here {open(".", O_PATH | O_DIRECTORY | O_CLOEXEC)};
  if (here.fd < 0) return OS_ERR_CWD;
  if (gcvchdir(path) != 0) return 0;
  std::unique_ptr<char, free_deleter> now(getcwd(nullptr, 0));
  int result = now == nullptr ? OS_ERR_CWD : copy_whole(path, size, now.get()) ? 0 : -1;
  if (fchdir(here.fd) != 0) result = OS_ERR_CWD;
  if (result == 0) *was_changed = 1;
  return result;
}

int _osmntnm(const char *path, char *host, int host_size, char *out, int out_size) {
  if (path == nullptr || host == nullptr || out == nullptr || host_size < 1) return -1;
  host[0] = '\0';
  if (!copy_whole(out, out_size, path)) return -1;
  struct stat sb;
  char type[fs_type_size];
  if (stat(path, &sb) != 0 || os_mount->fs_type(path, type, sizeof type) != 0 || !isrmnttype(type))
    return 0;

  FILE *table = setmntent(os_mount->mount_table, "r");
  if (table == nullptr) return OS_ERR_MOUNT_TABLE;
  bool found = false;
  std::string mount_point;
  std::string resource;
  bool rfs = false;
  while (const struct mntent *m = getmntent(table)) {
    char point[cwd_size];
    if (!copy_whole(point, sizeof point, m->mnt_dir)) continue;
    if (is_rfs(m->mnt_type) && _osfullpath(point, sizeof point, nullptr) != 0) continue;
    if (covers(point, path) && (!found || strlen(point) > mount_point.size())) {
      found = true;
      mount_point = point;
      resource = m->mnt_fsname;
      rfs = is_rfs(m->mnt_type);
    }
  }
  endmntent(table);
  if (!found) return 0;

  std::string server(resource.size() + 1, '\0');
  std::string remote(resource.size() + 1, '\0');
  split_fsname(resource.c_str(), server.data(), static_cast<int>(server.size()), remote.data(),
               static_cast<int>(remote.size()));
  server.resize(strlen(server.c_str()));
  remote.resize(strlen(remote.c_str()));
  if (rfs) rfs_resolve(server, remote);
  if (!copy_whole(host, host_size, server)) {
    host[0] = '\0';
    return -1;
  }
  if (transmntnm(path, mount_point.c_str(), remote.c_str(), out, out_size) != 0) {
    host[0] = '\0';
    return -1;
  }
  return 0;
}

int _osrealdbn(const char *name, char *path, int path_size, char *host, int host_size) {
  if (path == nullptr || host == nullptr || path_size < 1 || host_size < 1) return -1;
  path[0] = '\0';
  host[0] = '\0';
  if (name == nullptr) return 0;

  /* An empty name is the current directory, a name ending in "/" a
  ** directory as it stands, any other name a database. */
  std::string_view given = name;
  bool database = !given.empty() && !given.ends_with('/');
  std::string working = given.empty() ? std::string("./") : std::string(given);
  if (database) working += dbs_suffix;
  char work[cwd_size];
  if (!copy_whole(work, sizeof work, working)) return -1;

  int changed = 0;
  int r = _osfullpath(work, sizeof work, &changed);
  if (r != 0) return r;
  char file[cwd_size] = "";
  if (!changed && database) {
    char dir[cwd_size];
    if (split_fname(work, dir, sizeof dir, file, sizeof file) != 0) return -1;
    r = _osfullpath(dir, sizeof dir, &changed);
    if (r != 0) return r;
    copy_whole(work, sizeof work, dir);
  }
  if (!changed) return copy_whole(path, path_size, given) ? 0 : -1;

  r = _osmntnm(work, host, host_size, path, path_size);
  if (r != 0) {
    path[0] = '\0';
    host[0] = '\0';
    return r;
  }
  if (file[0] != '\0') {
    std::string full =
        std::string(path) + (std::string_view(path).ends_with('/') ? "" : "/") + file;
    if (!copy_whole(path, path_size, full)) {
      path[0] = '\0';
      host[0] = '\0';
      return -1;
    }
  }
  if (database) {
    size_t n = strlen(path);
    if (std::string_view(path, n).ends_with(dbs_suffix)) path[n - dbs_suffix.size()] = '\0';
  }
  return 0;
}

}  // extern "C"
