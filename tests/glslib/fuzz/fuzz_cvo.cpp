/*
** Fuzz target: the conversion-file reader through gl_cv_load with a
** directory, so that the file is opened through the host's fopen slot,
** whose double serves the input as a memory stream. The fclose double
** notes how far the reader got; when the load succeeds, the rest of the
** input is converted through the descriptor, counted: at once, measured,
** and in two chunks with a caller-held state.
*/
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "glslib.h"

namespace {

std::vector<char> g_input;
long g_consumed = 0;

FILE *serve_input(const char *, const char *) {
  if (g_input.empty()) return nullptr;
  return fmemopen(g_input.data(), g_input.size(), "r");
}

int note_and_close(FILE *stream) {
  const long at = std::ftell(stream);
  if (at >= 0) g_consumed = at;
  return std::fclose(stream);
}

void convert(gl_cv_desc *cd, const unsigned char *text, int size) {
  /* The file's factor sizes the buffer, up to the most any character can
  ** write (three sequences and an entry of 4 bytes each). */
  const std::size_t most = 12 * static_cast<std::size_t>(size) + 16;
  std::size_t room_needed = static_cast<std::size_t>(gl_cv_outbuflen(cd, size)) + 16;
  std::vector<unsigned char> out(room_needed < most ? room_needed : most);
  const unsigned char *in = text;
  int inleft = size;
  unsigned char *o = out.data();
  int room = static_cast<int>(out.size());
  int lossy = 0;
  gl_miconv(cd, &in, &inleft, &o, &room, &lossy);

  in = text;
  inleft = size;
  room = 1 << 20;
  gl_mconvlen(cd, nullptr, &in, &inleft, &room, &lossy);

  gl_cv_state state {1, 0, 0, 0};
  in = text;
  inleft = size / 2;
  o = out.data();
  room = static_cast<int>(out.size());
  gl_cv_mconv(cd, &state, &in, &inleft, &o, &room, &lossy);
  state.reset = 0;
  state.end_flush = 1;
  inleft = size - static_cast<int>(in - text);
  gl_cv_mconv(cd, &state, &in, &inleft, &o, &room, &lossy);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  gl_setextfunc(nullptr, GL_EXT_FOPEN, reinterpret_cast<gl_ext_funcptr>(serve_input));
  gl_setextfunc(nullptr, GL_EXT_FCLOSE, reinterpret_cast<gl_ext_funcptr>(note_and_close));
  /* The built-in registry, so the code-set lookups read no file. */
  gl_free_registry_cache();
  gl_cache_registry(nullptr, "/nonexistent/registry");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  g_input.assign(data, data + size);
  g_consumed = 0;
  gl_cv_desc *cd = nullptr;
  if (gl_cv_load(&cd, "en_US.utf8", "en_US.819", nullptr, "fuzz") == 1) {
    const long rest = static_cast<long>(size) - g_consumed;
    if (rest > 0) convert(cd, data + g_consumed, static_cast<int>(rest));
    _gl_free_ptr(cd->fast_map);
  }
  gl_cv_unload(cd);
  return 0;
}
