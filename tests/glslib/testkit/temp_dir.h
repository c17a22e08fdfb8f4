// Temporary directories for the glslib tests, removed with everything in
// them when the object goes; and a guard that restores the working
// directory.
#ifndef DVZ_TESTS_GLSLIB_TEMP_DIR_H
#define DVZ_TESTS_GLSLIB_TEMP_DIR_H

#include <string>
#include <string_view>

namespace glstest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    // path() + "/" + relative.
    std::string file(std::string_view relative) const;
    // Writes content to relative (parent directories made); returns the path.
    std::string write(std::string_view relative, std::string_view content) const;

private:
    std::string path_;
};

// Reads a whole file; "" when it does not exist.
std::string read_file(const std::string &path);

// Changes the working directory for its lifetime.
class ScopedChdir {
public:
    explicit ScopedChdir(const std::string &dir);
    ~ScopedChdir();
    ScopedChdir(const ScopedChdir &) = delete;
    ScopedChdir &operator=(const ScopedChdir &) = delete;

private:
    std::string previous_;
};

}  // namespace glstest

#endif
