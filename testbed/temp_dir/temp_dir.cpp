/*
** Temporary directories and working-directory guards for tests
** (temp_dir.h). Uses only the C++ library and mkdtemp.
*/
#include "temp_dir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <unistd.h>

namespace dvz_test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "dvz_test_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string TempDir::file(std::string_view relative) const {
  return path_ + "/" + std::string(relative);
}

namespace {

void put(const std::string &path, std::string_view content, std::ios::openmode mode) {
  std::ofstream out(path, std::ios::binary | mode);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

std::string TempDir::write(std::string_view relative, std::string_view content) const {
  std::string full = file(relative);
  fs::create_directories(fs::path(full).parent_path());
  put(full, content, std::ios::trunc);
  return full;
}

void write_file(const std::string &path, std::string_view content) {
  put(path, content, std::ios::trunc);
}

void append_file(const std::string &path, std::string_view content) {
  put(path, content, std::ios::app);
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

ScopedChdir::ScopedChdir(const std::string &dir) : previous_(fs::current_path().string()) {
  fs::current_path(dir);
}

ScopedChdir::~ScopedChdir() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
}

}  // namespace dvz_test
