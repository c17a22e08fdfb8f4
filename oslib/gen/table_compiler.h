/*
** table_compiler.h: the shell shared by the build-time compilers of the
** client environment's data files (the message-catalog compiler here, the
** SQLSTATE map compiler of the runtime): the refusal record, the atomic
** write and the command line "<tool> <source.txt> <output>". Header-only,
** so a compiler links nothing of the library.
*/
#ifndef DVZ_OSLIB_GEN_TABLE_COMPILER_H
#define DVZ_OSLIB_GEN_TABLE_COMPILER_H

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace table_compiler {

/* A refusal: the line it names (0 for the file as a whole) and why. */
struct refusal {
  long line;
  std::string why;
};

/* Writes bytes to path through a temporary file renamed into place, so a
** failed run never leaves a partial output. */
inline bool write_atomically(const std::string &path, const std::string &bytes) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

/* The whole run of a compiler: reads the source named by argv[1] with
** read_source(std::istream &, std::vector<Entry> &) -> std::optional<refusal>,
** encodes the entries with encode(std::vector<Entry> &) -> std::string and
** writes the bytes to argv[2]. Returns the exit status: 0, 1 after a
** refusal or an I/O failure (reported on stderr as "file:line: why"), 2 on
** a wrong command line (usage is the tail of the usage line). */
template <class Entry, class Read, class Encode>
int run(int argc, char **argv, const char *usage, Read read_source, Encode encode) {
  if (argc != 3) {
    std::cerr << "usage: " << usage << "\n";
    return 2;
  }
  const std::string source = argv[1];
  const std::string target = argv[2];
  std::ifstream in(source, std::ios::binary);
  if (!in) {
    std::cerr << source << ": cannot open: " << std::strerror(errno) << "\n";
    return 1;
  }
  std::vector<Entry> entries;
  if (const std::optional<refusal> failed = read_source(in, entries)) {
    std::cerr << source << ":" << failed->line << ": " << failed->why << "\n";
    return 1;
  }
  if (!write_atomically(target, encode(entries))) {
    std::cerr << target << ": cannot write: " << std::strerror(errno) << "\n";
    return 1;
  }
  return 0;
}

}  // namespace table_compiler

#endif
