/*
** A read-only stdio stream over a copy of a text, closed when the object
** goes: what the readers of locale files, tables and tokens read in tests.
*/
#ifndef DVZ_TESTS_GLSLIB_MEM_STREAM_H
#define DVZ_TESTS_GLSLIB_MEM_STREAM_H

#include <cstdio>
#include <string>

namespace glstest {

class MemStream {
 public:
  /* An empty text is an empty stream (fmemopen refuses a size of 0). */
  explicit MemStream(std::string text);
  ~MemStream();
  MemStream(const MemStream &) = delete;
  MemStream &operator=(const MemStream &) = delete;
  FILE *get() const { return stream_; }
  /* What is left unread. */
  std::string rest();

 private:
  std::string text_;
  FILE *stream_;
};

}  // namespace glstest

#endif
