/*
** Fuzz target: the SQL text helpers on arbitrary text, under the client
** locale FUZZ_CLIENT_LOCALE (built twice: single-byte and UTF-8). The
** input's first byte picks a buffer size and a flag; the rest is the text,
** in a heap block of exactly its length and a NUL, and every output is a
** heap block of exactly its documented size, so a read or write past any
** of them is a sanitizer report. Results must keep their contracts: parts
** and outputs terminated within their sizes, statuses from the documented
** sets, pointers into the text.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "os_glsenv.h"
#include "sqli_text.h"

namespace {

[[noreturn]] void fail(const char *what, long value) {
  std::fprintf(stderr, "fuzz_text_helpers: %s (%ld)\n", what, value);
  std::abort();
}

constexpr size_t max_input = 2048;

struct block {
  std::unique_ptr<char[]> bytes;
  size_t size;
  explicit block(size_t n) : bytes(new char[n]), size(n) { std::memset(bytes.get(), 0x5A, n); }
  char *get() { return bytes.get(); }
  void terminated(const char *what) const {
    if (strnlen(bytes.get(), size) >= size) fail(what, static_cast<long>(size));
  }
};

void within(const char *p, const char *text, size_t len, const char *what) {
  if (p < text || p > text + len) fail(what, static_cast<long>(p - text));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  setenv("DOVARIZADIR", FUZZ_DOVARIZADIR, 1);
  setenv("GLSLOG", "off", 1);
  setenv("GLSDEBUG", "off", 1);
  for (const char *name : {"DB_LOCALE", "DBLANG", "DBNLS", "DELIMIDENT"})
    unsetenv(name);
  setenv("CLIENT_LOCALE", FUZZ_CLIENT_LOCALE, 1);
  const int status = chkglsinit();
  if (status != 0) fail("locale initialisation", status);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > max_input) return 0;
  const int pick = data[0];
  const size_t len = size - 1;
  block text(len + 1);
  std::memcpy(text.get(), data + 1, len);
  text.get()[len] = 0;
  const size_t tlen = std::strlen(text.get());
  if ((pick & 1) != 0)
    setenv("DELIMIDENT", "", 1);
  else
    unsetenv("DELIMIDENT");

  /* Database references into small buffers of the picked sizes. */
  {
    const size_t ssize = 1 + (pick >> 1) % 40;
    const size_t dsize = 1 + (pick >> 3) % 64;
    block server(ssize);
    block database(dsize);
    int32_t path = -1;
    int32_t slash = -1;
    const int r = _gpdbenv(text.get(), server.get(), static_cast<int>(ssize), database.get(),
                           static_cast<int>(dsize), &path, &slash);
    if (r != 0 && r != -1) fail("_gpdbenv status", r);
    if (r == 0) {
      server.terminated("server not terminated");
      database.terminated("database not terminated");
    }
    if ((path != 0 && path != 1) || (slash != 0 && slash != 1)) fail("flags", path);
  }
  {
    block out(256);
    if (conv_delim(text.get(), out.get()) != 1) fail("conv_delim result", 0);
    out.terminated("conv_delim output");
  }
  {
    block db(131), srv(131), own(35), tab(131), col(131);
    const int r = parsetab(text.get(), db.get(), srv.get(), own.get(), tab.get(),
                           (pick & 2) != 0 ? col.get() : nullptr, pick & 4);
    if (r != 0 && r != 200 && r != 201 && r != 841 && r != -9601) fail("parsetab status", r);
    db.terminated("parsetab database");
    srv.terminated("parsetab server");
    own.terminated("parsetab owner");
    tab.terminated("parsetab table");
  }
  {
    block name(len + 1);
    std::memcpy(name.get(), text.get(), len + 1);
    truncate_to_oldsize(name.get(), static_cast<int>(tlen), pick & 1);
    if (std::strlen(name.get()) > tlen) fail("truncate_to_oldsize grew", 0);
    std::memcpy(name.get(), text.get(), len + 1);
    truncate_ident(name.get());
    if (std::strlen(name.get()) > tlen) fail("truncate_ident grew", 0);
  }
  {
    const int r = chkstmt(text.get(), static_cast<int>(tlen));
    if (r != 0 && r != 1) fail("chkstmt", r);
    int32_t offset = 0;
    for (int guard = 0; guard <= static_cast<int>(tlen) + 1; ++guard) {
      const int32_t before = offset;
      const int t = gettoken(text.get(), static_cast<int>(tlen), &offset);
      if (t < -2 || t > 5) fail("gettoken code", t);
      if (offset < before || offset > static_cast<int32_t>(tlen)) fail("gettoken offset", offset);
      if (t < 0) break;
      if (offset == before) fail("gettoken did not move", offset);
    }
  }
  {
    const char *p = text.get();
    skipcomments(&p);
    within(p, text.get(), tlen, "skipcomments");
    within(skipwhite(text.get()), text.get(), tlen, "skipwhite");
    within(skipword(text.get()), text.get(), tlen, "skipword");
    if (text.get()[0] == '\'' || text.get()[0] == '"')
      within(skipquote(text.get()), text.get(), tlen, "skipquote");
    within(extpos(text.get(), "lock"), text.get(), tlen, "extpos");
  }
  {
    const size_t half = tlen / 2;
    std::string a(text.get(), half);
    const int n = pick % 300;
    const int r = bycbcmpr(a.c_str(), text.get() + half, n);
    if (r < -1 || r > 1) fail("bycbcmpr", r);
    if (bycbcmpr(text.get(), text.get(), n) != 0) fail("bycbcmpr of itself", 0);
    const int c = cbncmpr("select", text.get(), 6);
    if (c != 0 && c != 1) fail("cbncmpr", c);
    int32_t reserved = -1;
    const int k = gkwlook(text.get(), &reserved);
    if (k < -1 || k >= gsqlkwsize || (k == -1 && reserved != 0)) fail("gkwlook", k);
    if (tlen > 0) {
      const int l = collection_literal(text.get(), text.get() + tlen - 1);
      if (l != 0 && l != 1) fail("collection_literal", l);
    }
  }
  return 0;
}
