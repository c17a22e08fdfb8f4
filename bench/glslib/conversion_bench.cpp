/*
** Code-set conversion against the C library's iconv, each pair measured
** in the same run on about 1 MB of text:
**   - the fast map of a complete single-byte toy pair, and sb_miconv
**     through the shipped 033304e4, against iconv ISO-8859-1 -> CP1252 on
**     Latin-1 text without C1 bytes;
**   - 8859-1 -> UTF-8, UTF-8 -> 8859-1 and SJIS -> UTF-8 through the
**     shipped tables;
**   - the stateful CP933 <-> UTF-8 pair on mixed Korean and ASCII text;
**   - for information, the load of the UTF-8 -> SJIS conversion.
** Each pair's output is checked against iconv's once before timing.
** Prints the ratios after Google Benchmark's own table. Never a test.
*/
#include <iconv.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "glslib.h"
#include "temp_dir.h"

namespace {

constexpr std::size_t text_size = 1 << 20;
const std::string data_dir = GLS_SOURCE_DATA;
const std::string cv_dir = data_dir + "/cv9";

/* A small deterministic generator, so every run measures the same text. */
struct Lcg {
  uint32_t state = 12345;
  uint32_t next(uint32_t n) {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % n;
  }
};

/* The whole of text converted by the C library; empty on failure. */
std::string iconv_all(const char *to, const char *from, const std::string &text) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  std::string out(text.size() * 4 + 16, '\0');
  char *in = const_cast<char *>(text.data());
  std::size_t inleft = text.size();
  char *o = out.data();
  std::size_t room = out.size();
  const std::size_t rc = iconv(cd, &in, &inleft, &o, &room);
  iconv(cd, nullptr, nullptr, &o, &room);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1)) return {};
  out.resize(out.size() - room);
  return out;
}

std::string utf8(uint32_t c) {
  std::string s;
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
  return s;
}

/* Latin-1 without C1 bytes: printable ASCII and 0xA0-0xFF, lines of 70. */
const std::string &latin1_text() {
  static const std::string text = [] {
    std::string t;
    Lcg r;
    while (t.size() < text_size) {
      if (t.size() % 71 == 70) {
        t += '\n';
      } else if (r.next(5) == 0) {
        t += static_cast<char>(0xA0 + r.next(96));
      } else {
        t += static_cast<char>(0x20 + r.next(95));
      }
    }
    return t;
  }();
  return text;
}

/* UTF-8 text of ASCII words among characters from [first, first + count)
** that the code set `encoding` holds (checked one by one with iconv). */
std::string mixed_utf8(uint32_t first, uint32_t count, const char *encoding) {
  std::vector<std::string> usable;
  for (uint32_t c = first; c < first + count; ++c)
    if (!iconv_all(encoding, "UTF-8", utf8(c)).empty()) usable.push_back(utf8(c));
  std::string t;
  Lcg r;
  while (t.size() < text_size) {
    if (r.next(4) == 0) {
      t += "word ";
    } else {
      for (int i = 0, n = 1 + static_cast<int>(r.next(8)); i < n; ++i)
        t += usable[r.next(static_cast<uint32_t>(usable.size()))];
      t += r.next(10) == 0 ? "\n" : " ";
    }
  }
  return t;
}

struct DescHolder {
  gl_cv_desc *cd = nullptr;
  ~DescHolder() {
    if (cd != nullptr) _gl_free_ptr(cd->fast_map);
    gl_cv_unload(cd);
  }
};

gl_cv_desc *load(const char *target, const char *source, const char *directory) {
  gl_cv_desc *cd = nullptr;
  if (gl_cv_load(&cd, target, source, nullptr, directory) != 1) {
    std::fprintf(stderr, "cannot load %s <- %s (error %d)\n", target, source,
                 cd != nullptr ? cd->err : -1);
    std::exit(1);
  }
  return cd;
}

/* The complete single-byte toy pair: every Latin-1 byte to itself, in
** the plain table form (root flags all 4, one data run of 256 entries). */
std::string complete_toy_text() {
  std::string t = "FILE_TYPE=codeset_conversion_object\nCOMPILER_VERSION=9\nHEADER_LINES=3\n";
  t += "0 0\n0000\n1 1 0 0 1 1 0 1.0\n1 1 1 00\n1 1\n00100001";
  for (int b = 0; b < 256; ++b)
    t += "04";
  t += "\n0000000\n00100001";
  char entry[8];
  for (int b = 0; b < 256; ++b) {
    std::snprintf(entry, sizeof entry, "%02x%02x", b == 0 ? 0x19 : 0x11, b);
    t += entry;
  }
  t += "\n0000000\n";
  return t;
}

/* One measured pair: our descriptor and iconv on the same input. */
struct Pair {
  std::string name;
  gl_cv_desc *cd;
  std::string input;
  const char *iconv_to;
  const char *iconv_from;
};

std::vector<Pair> &pairs() {
  static std::vector<Pair> list;
  return list;
}

std::size_t convert_ours(gl_cv_desc *cd, const std::string &input,
                         std::vector<unsigned char> &out) {
  const unsigned char *in = reinterpret_cast<const unsigned char *>(input.data());
  int inleft = static_cast<int>(input.size());
  unsigned char *o = out.data();
  int room = static_cast<int>(out.size());
  int lossy = 0;
  if (gl_miconv(cd, &in, &inleft, &o, &room, &lossy) != 0) return 0;
  return static_cast<std::size_t>(o - out.data());
}

void BM_Ours(benchmark::State &state, const Pair *p) {
  std::vector<unsigned char> out(p->input.size() * 4 + 16);
  for (auto _ : state)
    benchmark::DoNotOptimize(convert_ours(p->cd, p->input, out));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p->input.size()));
}

void BM_Iconv(benchmark::State &state, const Pair *p) {
  iconv_t cd = iconv_open(p->iconv_to, p->iconv_from);
  std::vector<char> out(p->input.size() * 4 + 16);
  for (auto _ : state) {
    char *in = const_cast<char *>(p->input.data());
    std::size_t inleft = p->input.size();
    char *o = out.data();
    std::size_t room = out.size();
    benchmark::DoNotOptimize(iconv(cd, &in, &inleft, &o, &room));
    iconv(cd, nullptr, nullptr, &o, &room);
  }
  iconv_close(cd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p->input.size()));
}

void BM_FastMap(benchmark::State &state, const Pair *p) {
  std::vector<unsigned char> out(p->input.size());
  const unsigned char *map = p->cd->fast_map;
  const auto *in = reinterpret_cast<const unsigned char *>(p->input.data());
  const std::size_t n = p->input.size();
  for (auto _ : state) {
    for (std::size_t i = 0; i < n; ++i)
      out[i] = map[in[i]];
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n));
}

void BM_LoadUtf8ToSjis(benchmark::State &state) {
  for (auto _ : state) {
    gl_cv_desc *cd = load("ja_JP.sjis", "en_US.utf8", cv_dir.c_str());
    gl_cv_unload(cd);
  }
}

/* Our output against iconv's, once: a benchmark of a wrong conversion
** would mean nothing. */
void check(const Pair &p) {
  std::vector<unsigned char> out(p.input.size() * 4 + 16);
  const std::size_t n = convert_ours(p.cd, p.input, out);
  const std::string theirs = iconv_all(p.iconv_to, p.iconv_from, p.input);
  if (n == 0 || theirs != std::string(out.begin(), out.begin() + static_cast<long>(n)))
    std::fprintf(stderr, "warning: %s differs from iconv (%zu bytes against %zu)\n", p.name.c_str(),
                 n, theirs.size());
}

/* The ratio lines after the table. */
void print_ratios(const glsbench::RatioReporter &reporter) {
  reporter.print_header();
  reporter.ratio("fast map / iconv 8859-1->CP1252 (<= 0.5)", "fast_map/toy",
                 "iconv/8859-1->cp1252");
  reporter.ratio("sb_miconv 033304e4 / iconv (<= 1.5)", "ours/8859-1->cp1252",
                 "iconv/8859-1->cp1252");
  for (const char *name : {"8859-1->utf8", "utf8->8859-1", "sjis->utf8"})
    reporter.ratio(std::string(name) + " / iconv (<= 2)", std::string("ours/") + name,
                   std::string("iconv/") + name);
  for (const char *name : {"cp933->utf8", "utf8->cp933"})
    reporter.ratio(std::string(name) + " / iconv (<= 2.5)", std::string("ours/") + name,
                   std::string("iconv/") + name);
  if (const double *load = reporter.time("load/utf8->sjis"))
    std::printf("%-44s %7.3f ms (goal <= 30 ms)\n", "gl_cv_load utf8->sjis", *load);
}

}  // namespace

int main(int argc, char **argv) {
  gl_cache_registry(nullptr, (data_dir + "/cm3/registry").c_str());
  dvz_test::TempDir toy_dir;
  toy_dir.write("033304e4.cvo", complete_toy_text());
  DescHolder toy, sb, to_utf8, from_utf8, sjis, cp933_in, cp933_out;
  toy.cd = load("en_US.cp1252", "en_US.819", toy_dir.path().c_str());
  if (toy.cd->fast_map == nullptr) {
    std::fprintf(stderr, "the complete toy pair has no fast map\n");
    return 1;
  }
  sb.cd = load("en_US.cp1252", "en_US.819", cv_dir.c_str());
  to_utf8.cd = load("en_US.utf8", "en_US.819", cv_dir.c_str());
  from_utf8.cd = load("en_US.819", "en_US.utf8", cv_dir.c_str());
  sjis.cd = load("en_US.utf8", "ja_JP.sjis", cv_dir.c_str());
  cp933_in.cd = load("en_US.utf8", "ko_KR.ccsid933", cv_dir.c_str());
  cp933_out.cd = load("ko_KR.ccsid933", "en_US.utf8", cv_dir.c_str());

  const std::string &latin1 = latin1_text();
  const std::string latin1_utf8 = iconv_all("UTF-8", "ISO-8859-1", latin1);
  const std::string sjis_text =
      iconv_all("SHIFT_JIS", "UTF-8", mixed_utf8(0x3041, 0x5A, "SHIFT_JIS"));
  const std::string korean = mixed_utf8(0xAC00, 11172, "CP933");
  const std::string cp933_text = iconv_all("CP933", "UTF-8", korean);

  std::vector<Pair> &list = pairs();
  list.reserve(8);
  list.push_back({"8859-1->cp1252", sb.cd, latin1, "CP1252", "ISO-8859-1"});
  list.push_back({"8859-1->utf8", to_utf8.cd, latin1, "UTF-8", "ISO-8859-1"});
  list.push_back({"utf8->8859-1", from_utf8.cd, latin1_utf8, "ISO-8859-1", "UTF-8"});
  list.push_back({"sjis->utf8", sjis.cd, sjis_text, "UTF-8", "SHIFT_JIS"});
  list.push_back({"cp933->utf8", cp933_in.cd, cp933_text, "UTF-8", "CP933"});
  list.push_back({"utf8->cp933", cp933_out.cd, korean, "CP933", "UTF-8"});
  Pair fast {"toy", toy.cd, latin1, "CP1252", "ISO-8859-1"};

  benchmark::RegisterBenchmark("fast_map/toy", BM_FastMap, &fast)->Unit(benchmark::kMicrosecond);
  for (const Pair &p : list) {
    check(p);
    benchmark::RegisterBenchmark(("ours/" + p.name).c_str(), BM_Ours, &p)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("iconv/" + p.name).c_str(), BM_Iconv, &p)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark("load/utf8->sjis", BM_LoadUtf8ToSjis)->Unit(benchmark::kMillisecond);
  glsbench::RatioReporter reporter(44);
  if (!glsbench::run_benchmarks(argc, argv, reporter, print_ratios)) return 1;
  glsbench::shut_down();
  gl_free_registry_cache();
  return 0;
}
