/*
** Fuzz target: the module configuration reader and the connection's
** module specification. The input is compiled as a whole concsm.cfg
** through the file reader (over an in-memory stream) and then checked;
** the result is 0 or -1 with one of the compile's codes, and every
** descriptor of an accepted file has a name of at most 31 characters and
** members that are descriptors of the same list. The same input, up to
** its first NUL, is read as a connection's specification: names keep at
** most 31 characters, parameters at most 1023, and the position never
** leaves the text.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "css_records.h"
#include "fuzz_environment.h"

namespace {

[[noreturn]] void fail(const char *what, long value) {
  std::fprintf(stderr, "fuzz_concsm: %s (%ld)\n", what, value);
  std::abort();
}

constexpr size_t max_input = 8 * CSS_TEXT_SIZE;

bool compile_code(int32_t code) {
  switch (code) {
    case CSS_ERR_SYNTAX:
    case CSS_ERR_MEMORY:
    case CSS_ERR_DUPLICATE:
    case CSS_ERR_UNDEFINED:
    case CSS_ERR_NOSTATIC:
    case CSS_ERR_NAMELESS:
    case CSS_ERR_SELFMEMBER:
    case CSS_ERR_INCOMPLETE:
      return true;
    default:
      return false;
  }
}

bool in_list(const css_list &list, const csm_descr *descr) {
  for (const css_list_node *n = list.first; n != nullptr; n = n->next)
    if (n->data == descr) return true;
  return false;
}

void compile(const uint8_t *data, size_t size) {
  // fmemopen refuses an empty buffer: an empty file is read from "".
  static char empty[1] = {};
  void *buffer = size > 0 ? const_cast<uint8_t *>(data) : static_cast<void *>(empty);
  FILE *stream = fmemopen(buffer, size > 0 ? size : 1, "r");
  if (stream == nullptr) fail("fmemopen", static_cast<long>(size));
  cssio_vector io;
  cssio_init(&io);
  csslibctx *lib = static_cast<csslibctx *>(css_malloc(sizeof(csslibctx)));
  if (lib == nullptr) fail("no memory", 0);
  css_errblk err {};
  int rc = css_compile_csm_list(lib, &io, stream, &err);
  io.close(stream);
  if (rc == 0) rc = css_verify_csm_list(lib, &err);
  if (rc != 0 && rc != -1) fail("result", rc);
  if (rc == -1 && !compile_code(err.code)) fail("code", err.code);
  if (rc == 0) {
    for (const css_list_node *n = lib->descrs.first; n != nullptr; n = n->next) {
      const auto *d = static_cast<const csm_descr *>(n->data);
      if (d->name == nullptr || std::strlen(d->name) > CSS_NAME_SIZE - 1 || d->name[0] == '\0')
        fail("name", 0);
      for (const css_list_node *m = d->members.first; m != nullptr; m = m->next)
        if (!in_list(lib->descrs, static_cast<const csm_descr_ref *>(m->data)->descr))
          fail("member outside the list", 0);
    }
  }
  css_errblk scratch {};
  css_terminate(&lib, &scratch);
}

void read_specification(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  const char *begin = text.c_str();
  const char *end = begin + std::strlen(begin);
  const char *pos = begin;
  // Each round consumes at least one character or stops.
  for (int round = 0; round < 64; ++round) {
    char name[CSS_NAME_SIZE];
    const char *before = pos;
    const int n = css_get_csm_name(name, &pos);
    if (pos < begin || pos > end) fail("name position", pos - begin);
    if (n > CSS_NAME_SIZE - 1 || (n >= 0 && std::strlen(name) != static_cast<size_t>(n)))
      fail("name length", n);
    if (n <= 0) break;
    char parm[CSS_TEXT_SIZE];
    const int p = css_get_csm_parm(parm, &pos);
    if (pos < begin || pos > end) fail("parm position", pos - begin);
    if (p > CSS_TEXT_SIZE - 1 || (p >= 0 && std::strlen(parm) > static_cast<size_t>(p)))
      fail("parm length", p);
    if (p < 0 || pos == before) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz_environment::init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > max_input) return 0;
  compile(data, size);
  read_specification(data, size);
  return 0;
}
