/*
** Memory streams of the glslib tests (see mem_stream.h).
*/
#include "mem_stream.h"

#include <gtest/gtest.h>

namespace glstest {

MemStream::MemStream(std::string text) : text_(std::move(text)) {
  stream_ =
      text_.empty() ? std::fopen("/dev/null", "r") : fmemopen(text_.data(), text_.size(), "r");
  EXPECT_NE(stream_, nullptr);
}

MemStream::~MemStream() {
  if (stream_ != nullptr) std::fclose(stream_);
}

std::string MemStream::rest() {
  std::string out;
  for (int c; (c = std::fgetc(stream_)) != EOF;)
    out.push_back(static_cast<char>(c));
  return out;
}

}  // namespace glstest
