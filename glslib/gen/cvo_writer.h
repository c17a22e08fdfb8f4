/*
** cvo_writer - writes a code-set conversion file (.cvo) of the locale
** library and reads one back for the generator's own check.
**
** A .cvo file is three header lines ("FILE_TYPE=codeset_conversion_object",
** "COMPILER_VERSION=9", "HEADER_LINES=N") and N - 3 provenance lines, then
** tokens: the two shift flags, the four shift sequences back to back (a
** hex digit n and n hex byte pairs each), seven decimal numbers (target
** minimum and maximum length, two unused, source minimum and maximum
** length, no-fast-map flag), the expansion factor, the base table and,
** when the source has a shifted state, the shifted-source table. Tables are
** in the text form of multi-level tables; an entry is its flags byte and
** then (flags & 7) target bytes, all as hex pairs.
** Called by cvo_gen.cpp; calls the library's table inserter, writer and
** reader and its token readers.
*/
#ifndef DVZ_GLSLIB_GEN_CVO_WRITER_H
#define DVZ_GLSLIB_GEN_CVO_WRITER_H

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "gl_conv.h"

namespace glsgen {

/* One source character and what it converts to. */
struct CvoEntry {
  std::vector<unsigned char> key; /* 1 to 4 source bytes */
  unsigned char flags = 0; /* without the length bits */
  std::vector<unsigned char> target; /* 0 to target_max bytes */
};

/* Everything one .cvo file holds. */
struct CvoData {
  std::vector<std::string> provenance; /* header lines after the third */
  int source_shift = 0;
  int target_shift = 0;
  std::array<std::vector<unsigned char>, 4> sequences; /* 0 to 4 bytes each */
  int target_min = 1;
  int target_max = 1;
  int source_min = 1;
  int source_max = 1;
  int no_fast_map = 0;
  double factor = 1.0;
  std::vector<CvoEntry> base;
  std::vector<CvoEntry> shifted; /* only with source_shift */
};

/* The most output bytes per input byte over the entries, a character of
** the shifted target counted with the sequences that may enclose it, a
** base one with the sequence that may precede it. */
double expansion_factor(const CvoData &d);

/* Writes d to fp. False with a message in *error. */
bool write_cvo(FILE *fp, const CvoData &d, std::string *error);

/* Reads the file at path back through the library's table reader and token
** readers and compares it with d: header, numbers, sequences and every
** entry. False with a message in *error. */
bool check_cvo(const std::string &path, const CvoData &d, std::string *error);

}  // namespace glsgen

#endif
