/*
** Temporary directories for tests: a fresh directory under $TMPDIR (or
** /tmp), removed with everything in it when the object goes; whole-file
** reads and writes; and a guard that restores the working directory.
**
** The one helper of its kind: every test suite takes its scratch space from
** here, so that two runs on one machine never share a path.
*/
#ifndef DVZ_TESTBED_TEMP_DIR_H
#define DVZ_TESTBED_TEMP_DIR_H

#include <string>
#include <string_view>

namespace dvz_test {

class TempDir {
 public:
  TempDir(); /* throws std::runtime_error when no directory can be made */
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::string &path() const { return path_; }
  /* path() + "/" + relative. */
  std::string file(std::string_view relative) const;
  /* Writes content to relative (parent directories made); returns the path.
  ** Throws std::runtime_error when the file cannot be written whole. */
  std::string write(std::string_view relative, std::string_view content) const;

 private:
  std::string path_;
};

/* A whole file's bytes; "" when it cannot be read. */
std::string read_file(const std::string &path);

/* Replaces the file at path with content (created when missing), or
** appends content to it. Throw std::runtime_error when it cannot be
** written whole. */
void write_file(const std::string &path, std::string_view content);
void append_file(const std::string &path, std::string_view content);

/* Changes the working directory for its lifetime. */
class ScopedChdir {
 public:
  explicit ScopedChdir(const std::string &dir);
  ~ScopedChdir();
  ScopedChdir(const ScopedChdir &) = delete;
  ScopedChdir &operator=(const ScopedChdir &) = delete;

 private:
  std::string previous_;
};

}  // namespace dvz_test

#endif
