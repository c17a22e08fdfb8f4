// Temporary directories and working-directory guards for the glslib tests.
#include "temp_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace glstest {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "glslib-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string TempDir::file(std::string_view relative) const {
    return path_ + "/" + std::string(relative);
}

std::string TempDir::write(std::string_view relative, std::string_view content) const {
    std::string full = file(relative);
    fs::create_directories(fs::path(full).parent_path());
    std::ofstream out(full, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return full;
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

}  // namespace glstest
