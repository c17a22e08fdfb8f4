/*
** Database paths: local databases against realpath, databases on fixture
** NFS and RFS mounts (a mount-table file and a file-system-type double),
** mount points matched only at component boundaries, the refusals, and
** the current directory left as it was after every call.
*/
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "isolation.h"
#include "os_seams.h"
#include "os_wrappers.h"
#include "temp_dir.h"
#include "wrappers_test_support.h"

using wrappers_test::ScopedSeam;

namespace {

std::string current_directory() {
  char *cwd = getcwd(nullptr, 0);
  std::string s = cwd != nullptr ? cwd : "";
  free(cwd);
  return s;
}

std::string real_path(const std::string &path) {
  char *r = realpath(path.c_str(), nullptr);
  std::string s = r != nullptr ? r : "";
  free(r);
  return s;
}

void make_dirs(const std::string &path) {
  for (size_t at = 1; at != std::string::npos; at = path.find('/', at + 1))
    mkdir(path.substr(0, at).c_str(), 0755);
  ASSERT_EQ(mkdir(path.c_str(), 0755) == 0 || errno == EEXIST, true) << path;
}

struct Outcome {
  int result;
  std::string path;
  std::string host;
  bool operator==(const Outcome &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Outcome &o) {
  return os << o.result << " path '" << o.path << "' host '" << o.host << "'";
}

/* _osrealdbn with the given output sizes; the current directory must be
** the same afterwards. */
Outcome real_dbn(const char *name, int path_size = 1026, int host_size = 256) {
  const std::string before = current_directory();
  std::string path(static_cast<size_t>(path_size), '#');
  std::string host(static_cast<size_t>(host_size), '#');
  int r = _osrealdbn(name, path.data(), path_size, host.data(), host_size);
  EXPECT_EQ(current_directory(), before) << "after " << (name ? name : "NULL");
  return {r, path.c_str(), host.c_str()};
}

TEST(OsDbPath, LocalDatabaseIsItsRealPathWithoutSuffix) {
  dvz_test::TempDir dir;
  make_dirs(dir.file("db/stores.dbs"));
  make_dirs(dir.file("db/sub"));
  ASSERT_EQ(symlink("stores.dbs", dir.file("db/alias.dbs").c_str()), 0);
  const std::string db = real_path(dir.file("db"));
  dvz_test::ScopedChdir here(dir.file("db"));

  struct Case {
    const char *name;
    Outcome expected;
  };
  const std::string stores = real_path("stores.dbs");
  const Case cases[] = {
      {"stores", {0, stores.substr(0, stores.size() - 4), ""}},
      {"alias", {0, db + "/stores", ""}},
      {"absent", {0, db + "/absent", ""}},
      {"sub/", {0, db + "/sub", ""}},
      {"", {0, db, ""}},
      {"no/such/dir/x", {0, "no/such/dir/x", ""}},
      {"no/such/dir/", {0, "no/such/dir/", ""}},
      {nullptr, {0, "", ""}},
  };
  for (const Case &c : cases)
    EXPECT_EQ(real_dbn(c.name), c.expected) << (c.name ? c.name : "NULL");

  char host[8];
  EXPECT_EQ(_osrealdbn("stores", nullptr, 10, host, sizeof host), -1);
  char path[8];
  EXPECT_EQ(_osrealdbn("stores", path, sizeof path, nullptr, 8), -1);
}

TEST(OsDbPath, ResultThatDoesNotFitLeavesNothingBehind) {
  dvz_test::TempDir dir;
  make_dirs(dir.file("stores.dbs"));
  dvz_test::ScopedChdir here(dir.path());
  const int just_fits = static_cast<int>(real_path("stores.dbs").size()) + 1;
  EXPECT_EQ(real_dbn("stores", 12), (Outcome {-1, "", ""}));
  EXPECT_EQ(real_dbn("absent", 12), (Outcome {-1, "", ""}));
  /* The ".dbs" form must fit while it is worked on. */
  EXPECT_EQ(real_dbn("stores", just_fits).result, 0);
  EXPECT_EQ(real_dbn("stores", just_fits - 1).result, -1);
}

TEST(OsDbPath, TooLongCurrentDirectoryGivesMinus922) {
  dvz_test::TempDir dir;
  std::string deep = dir.path();
  while (deep.size() <= 1100)
    deep += "/" + std::string(200, 'd');
  make_dirs(deep + "/x.dbs");
  dvz_test::ScopedChdir here(deep);
  EXPECT_EQ(real_dbn("x"), (Outcome {-922, "", ""}));
}

/* A fixture world of remote mounts: the mount table is a file of the
** test, and the file-system type is "nfs" under the NFS mount points,
** "rfs" under the RFS one, "ext4" elsewhere. */
class RemoteMounts : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = real_path(dir_.path());
    for (const char *d : {"mnt/db/stores.dbs", "mnt/ab/x.dbs", "mnt/a/y.dbs",
                          "mnt/with space/z.dbs", "local/stores.dbs", "rfs/d.dbs"})
      make_dirs(dir_.file(d));
    nfs_points = {root_ + "/mnt", root_ + "/mnt/a", root_ + "/mnt/with space"};
    rfs_point = root_ + "/rfs";
    table_ = dir_.write("mnttab",
                        "/dev/root / ext4 rw 0 0\n"
                        "srv:/export " +
                            root_ +
                            "/mnt nfs rw 0 0\n"
                            "other:/vol " +
                            root_ +
                            "/mnt/a nfs4 rw 0 0\n"
                            "srv2:/spaced/ " +
                            root_ +
                            "/mnt/with\\040space nfs rw 0 0\n"
                            "dom.res " +
                            root_ + "/rfs rfs rw 0 0\n");
    seam_ = {table_.c_str(), fs_type};
  }

  static int fs_type(const char *path, char *type, size_t size) {
    std::string_view p = path;
    auto under = [&](const std::string &m) {
      return p.starts_with(m) && (p.size() == m.size() || p[m.size()] == '/');
    };
    const char *answer = "ext4";
    for (const std::string &m : nfs_points)
      if (under(m)) answer = "nfs";
    if (under(rfs_point)) answer = "RFS";
    snprintf(type, size, "%s", answer);
    return 0;
  }

  static inline std::vector<std::string> nfs_points;
  static inline std::string rfs_point;
  dvz_test::TempDir dir_;
  std::string root_;
  std::string table_;
  os_mount_seam seam_ {};
};

TEST_F(RemoteMounts, NfsDatabasesNameTheServerAndItsDirectory) {
  ScopedSeam<os_mount_seam> mounts(os_mount, &seam_);
  dvz_test::ScopedChdir here(root_);
  struct Case {
    const char *name;
    Outcome expected;
  };
  const Case cases[] = {
      {"mnt/db/stores", {0, "/export/db/stores", "srv"}},
      {"mnt/db/absent", {0, "/export/db/absent", "srv"}},
      {"mnt/ab/x", {0, "/export/ab/x", "srv"}},
      {"mnt/a/y", {0, "/vol/y", "other"}},
      {"mnt/with space/z", {0, "/spaced/z", "srv2"}},
      {"mnt/", {0, "/export/", "srv"}},
      {"local/stores", {0, root_ + "/local/stores", ""}},
  };
  for (const Case &c : cases)
    EXPECT_EQ(real_dbn(c.name), c.expected) << c.name;

  dvz_test::ScopedChdir db(root_ + "/mnt/db");
  const Outcome stores = real_dbn("stores");
  EXPECT_EQ(stores.host, "srv");
  EXPECT_TRUE(std::string_view(stores.path).starts_with("/export/")) << stores;
}

TEST_F(RemoteMounts, HostThatDoesNotFitAndUnreadableTable) {
  dvz_test::ScopedChdir here(root_);
  {
    ScopedSeam<os_mount_seam> mounts(os_mount, &seam_);
    EXPECT_EQ(real_dbn("mnt/db/stores", 1026, 3), (Outcome {-1, "", ""}));
    EXPECT_EQ(real_dbn("mnt/db/stores", 1026, 4).host, "srv");
  }
  const std::string missing = dir_.file("no-mnttab");
  const os_mount_seam unreadable = {missing.c_str(), fs_type};
  ScopedSeam<os_mount_seam> mounts(os_mount, &unreadable);
  EXPECT_EQ(real_dbn("mnt/db/stores"), (Outcome {-916, "", ""}));
  /* A local path never reads the table. */
  EXPECT_EQ(real_dbn("local/stores").result, 0);
}

TEST_F(RemoteMounts, RfsResourcesAreResolvedByTheNameServiceProgram) {
  ScopedSeam<os_mount_seam> mounts(os_mount, &seam_);
  dvz_test::ScopedChdir here(root_);
  make_dirs(oslib_test::isolated_dovarizadir() + "/lib");
  const std::string program = oslib_test::isolated_dovarizadir() + "/lib/att_ns";
  dvz_test::write_file(program,
                       "#!/bin/sh\n"
                       "echo 'other hostx /x'\n"
                       "echo 'res  hostb\t/remote/dir'\n");
  ASSERT_EQ(chmod(program.c_str(), 0755), 0);
  EXPECT_EQ(real_dbn("rfs/d"), (Outcome {0, "/remote/dir/d", "hostb"}));

  /* No line for the resource: the mount's own name, the rest alone. */
  dvz_test::write_file(program, "#!/bin/sh\necho 'other hostx /x'\n");
  EXPECT_EQ(real_dbn("rfs/d"), (Outcome {0, "/d", "dom.res"}));
  unlink(program.c_str());
}

TEST(OsDbPath, MountPointsCoverPathsOnlyAtComponentBoundaries) {
  dvz_test::TempDir dir;
  const std::string root = real_path(dir.path());
  for (const char *d : {"m/ab/x", "m/a/y", "m/a"})
    make_dirs(dir.file(d));
  const std::string table = dir.write("mnttab", "long:/l " + root +
                                                    "/m/a nfs rw 0 0\n"
                                                    "short:/s " +
                                                    root + "/m nfs rw 0 0\n");
  const os_mount_seam all_nfs = {table.c_str(), [](const char *, char *type, size_t size) {
                                   snprintf(type, size, "nfs");
                                   return 0;
                                 }};
  ScopedSeam<os_mount_seam> mounts(os_mount, &all_nfs);
  struct Case {
    std::string path;
    std::string host;
    std::string out;
  };
  const Case cases[] = {
      {root + "/m/ab/x", "short", "/s/ab/x"},
      {root + "/m/a/y", "long", "/l/y"},
      {root + "/m/a", "long", "/l/"},
      {root, "", root},
  };
  for (const Case &c : cases) {
    char host[64];
    char out[1026];
    ASSERT_EQ(_osmntnm(c.path.c_str(), host, sizeof host, out, sizeof out), 0) << c.path;
    EXPECT_EQ(host, c.host) << c.path;
    EXPECT_EQ(out, c.out) << c.path;
  }
}

TEST(OsDbPath, RemoteDirectoryAndRestJoinWithOneSlash) {
  struct Case {
    const char *path;
    const char *mount_point;
    const char *remote;
    int size;
    int result;
    const char *out;
  };
  const Case cases[] = {
      {"/m/a/b", "/m", "/export", 64, 0, "/export/a/b"},
      {"/m/a/b", "/m", "/export/", 64, 0, "/export/a/b"},
      {"/m/a/b", "/m/", "/export", 64, 0, "/export/a/b"},
      {"/m", "/m", "/export", 64, 0, "/export/"},
      {"/m/a", "/m", "/", 64, 0, "/a"},
      {"/a/b", "/", "/export", 64, 0, "/export/a/b"},
      {"/m/a/b", "/m", "", 64, 0, "/a/b"},
      {"/m/a/b", "/m", nullptr, 64, 0, "/a/b"},
      {"/x/a", "/m", "/export", 64, -1, nullptr},
      {"/m/a/b", "/m", "/export", 11, -1, nullptr},
      {"/m/a/b", "/m", "/export", 12, 0, "/export/a/b"},
  };
  for (const Case &c : cases) {
    char out[64] = "untouched";
    EXPECT_EQ(transmntnm(c.path, c.mount_point, c.remote, out, c.size), c.result) << c.path;
    if (c.out != nullptr) {
      EXPECT_STREQ(out, c.out) << c.path << " on " << c.mount_point;
    }
  }
}

TEST(OsDbPath, SplitsFileNamesAndMountResources) {
  using splitter = int (*)(const char *, char *, int, char *, int);
  struct Case {
    splitter split;
    const char *text;
    int first_size;
    int second_size;
    int result;
    const char *first;
    const char *second;
  };
  const Case cases[] = {
      {split_fname, "/db/stores.dbs", 16, 16, 0, "/db", "stores.dbs"},
      {split_fname, "stores.dbs", 16, 16, 0, ".", "stores.dbs"},
      {split_fname, "/stores.dbs", 16, 16, 0, "/", "stores.dbs"},
      {split_fname, "/db/stores.dbs", 3, 16, -1, nullptr, nullptr},
      {split_fname, "/db/stores.dbs", 16, 10, -1, nullptr, nullptr},
      {split_fsname, "srv:/export", 16, 16, 0, "srv", "/export"},
      {split_fsname, "srv:/a:b", 16, 16, 0, "srv", "/a:b"},
      {split_fsname, "resource", 16, 16, 0, "resource", ""},
      {split_fsname, "server:/x", 6, 16, -1, nullptr, nullptr},
      {split_fsname, "server:/x", 7, 16, 0, "server", "/x"},
      {split_fsname, "srv:/export", 16, 4, -1, nullptr, nullptr},
  };
  for (const Case &c : cases) {
    char first[16];
    char second[16];
    EXPECT_EQ(c.split(c.text, first, c.first_size, second, c.second_size), c.result) << c.text;
    if (c.result == 0) {
      EXPECT_STREQ(first, c.first) << c.text;
      EXPECT_STREQ(second, c.second) << c.text;
    }
  }
}

TEST(OsDbPath, RemoteMountTypes) {
  const std::pair<const char *, int> cases[] = {{"nfs", 1},  {"NFS", 1},  {"rfs", 1}, {"Rfs", 1},
                                                {"ext4", 0}, {"nfsd", 0}, {"", 0},    {nullptr, 0}};
  for (const auto &[type, remote] : cases)
    EXPECT_EQ(isrmnttype(type), remote) << (type ? type : "NULL");
}

}  // namespace
