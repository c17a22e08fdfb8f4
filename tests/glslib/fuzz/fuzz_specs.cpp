/*
** Fuzz target: the locale specification parsers, with output buffers of
** exactly the sizes callers are told to provide (so an overrun is caught)
** and the built-in registry. The input is one specification or file name.
*/
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "../testkit/error_word.h"
#include "glslib.h"

namespace {

using glstest::ErrorWord;

/* A heap block of exactly n bytes, so that writing past it is reported. */
std::unique_ptr<char[]> buffer(size_t n) { return std::make_unique<char[]>(n); }

constexpr const char directory_prefix[] = "/p";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const bool builtin = [] {
    ErrorWord w;
    gl_cache_registry(w.record(), ""); /* cannot open: the built-in table */
    return true;
  }();
  (void)builtin;

  std::string text(reinterpret_cast<const char *>(data), size);
  text = text.c_str(); /* up to the first NUL */
  const char *spec = text.c_str();
  ErrorWord w;

  gl_lc_spec2cs_num(w.record(), spec, nullptr);
  gl_lc_spec2cs_num(nullptr, spec, nullptr);

  auto fname = buffer(GL_LC_FSPEC_SIZE);
  if (gl_lc_spec2lc_fname(w.record(), spec, fname.get(), nullptr, nullptr) == 0 &&
      std::strlen(fname.get()) >= GL_LC_FSPEC_SIZE) {
    std::abort();
  }
  auto prefixed = buffer(GL_LC_FSPEC_SIZE + 6 * (sizeof directory_prefix));
  gl_lc_spec2lc_fname(w.record(), spec, prefixed.get(), nullptr, directory_prefix);

  auto dname = buffer(GL_MSG_DNAME_SIZE);
  gl_lc_spec2msg_dname(w.record(), spec, dname.get(), nullptr, directory_prefix);

  auto lang_terr = buffer(GL_LC_LANGTERR_SIZE);
  auto codeset = buffer(GL_LC_CSTEXT_SIZE);
  auto modifier = buffer(GL_LC_MODIFIER_SIZE);
  gl_lc_fname2lc_pieces(w.record(), spec, lang_terr.get(), codeset.get(), modifier.get());
  gl_lc_fname2lc_pieces(nullptr, spec, lang_terr.get(), codeset.get(), modifier.get());

  /* The file name of a short form goes back to its pieces and a specification. */
  if (gl_lc_spec2lc_fname(w.record(), spec, fname.get(), nullptr, nullptr) == 0 &&
      std::strchr(fname.get(), ' ') == nullptr) {
    if (gl_lc_fname2lc_pieces(w.record(), fname.get(), lang_terr.get(), codeset.get(),
                              modifier.get()) != 0) {
      std::abort();
    }
    auto back = buffer(GL_LC_FNAME_SIZE);
    if (gl_lc_pieces2lc_spec(w.record(), lang_terr.get(), codeset.get(), modifier.get(),
                             back.get()) != 0) {
      std::abort();
    }
  }

  int length = 0;
  _gl_is_category(spec, &length);
  gl_is_lc_spec(w.record(), spec);
  return 0;
}
