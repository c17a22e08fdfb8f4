/*
** The character layer on multibyte text, each against the C library in the
** same code set, measured in the same run:
**   - a gl_full_mblen walk over 256 KiB of UTF-8 (en_us/e01c.lco) and of
**     Shift-JIS (ja_jp/e006.lco) text, against an mbrlen loop in the C
**     library's en_US.UTF-8 and ja_JP.SHIFT_JIS (compiled with localedef
**     into a temporary directory at start);
**   - _gl_im_ismctype (alpha) at every character of the UTF-8 text, against
**     mbrtowc + iswalpha_l;
**   - gl_tombsupper of the UTF-8 text, against mbrtowc + towupper_l +
**     wcrtomb.
** Prints the ratios after Google Benchmark's own table. Never a test.
*/
#include <locale.h>
#include <wchar.h>
#include <wctype.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "glslib.h"

namespace {

constexpr std::size_t text_bytes = 256 * 1024;

locale_t peer_utf8() { return glsbench::peer_locale("en_US", "UTF-8"); }

locale_t peer_sjis() { return glsbench::peer_locale("ja_JP", "SHIFT_JIS"); }

/* A shipped file, with the registry of the source tree's code sets cached
** before the first load. */
gl_locale *load_shipped(const char *file) {
  static const bool cached = [] {
    gl_cache_registry(nullptr, GLS_SOURCE_DATA "/cm3/registry");
    return true;
  }();
  (void)cached;
  return glsbench::load_shipped(file);
}

gl_locale *ours_utf8() {
  static gl_locale *r = load_shipped("en_us/e01c.lco");
  return r;
}

gl_locale *ours_sjis() {
  static gl_locale *r = load_shipped("ja_jp/e006.lco");
  return r;
}

/* Code points the texts are drawn from: {first, count, weight}. */
struct Range {
  wchar_t first;
  int count;
  int weight;
};

/* About text_bytes of text in the peer's code set, terminated: random
** characters of the ranges that both the peer and our locale take. */
std::string make_text(locale_t peer, gl_locale *ours, const std::vector<Range> &ranges) {
  int total = 0;
  for (const Range &r : ranges)
    total += r.weight;
  std::string out;
  unsigned seed = 11;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<int>(seed >> 8);
  };
  locale_t previous = uselocale(peer);
  while (out.size() < text_bytes) {
    int pick = next() % total;
    const Range *range = &ranges[0];
    for (const Range &r : ranges) {
      range = &r;
      if (pick < r.weight) break;
      pick -= r.weight;
    }
    const wchar_t wc = range->first + next() % range->count;
    char bytes[MB_LEN_MAX];
    mbstate_t state {};
    const std::size_t n = wcrtomb(bytes, wc, &state);
    if (n == static_cast<std::size_t>(-1)) continue;
    if (gl_full_mblen(ours, reinterpret_cast<const unsigned char *>(bytes), static_cast<int>(n)) !=
        static_cast<int>(n))
      continue;
    out.append(bytes, n);
  }
  uselocale(previous);
  return out;
}

const std::string &utf8_text() {
  static const std::string t = make_text(peer_utf8(), ours_utf8(),
                                         {{L'a', 26, 40},
                                          {L' ', 1, 10},
                                          {0xC0, 64, 20},
                                          {0x391, 25, 5},
                                          {0x3041, 80, 15},
                                          {0x4E00, 2000, 8},
                                          {0x1F600, 64, 2}});
  return t;
}

const std::string &sjis_text() {
  static const std::string t = make_text(peer_sjis(), ours_sjis(),
                                         {{L'a', 26, 40},
                                          {L' ', 1, 10},
                                          {0xFF61, 63, 10},
                                          {0x3041, 80, 20},
                                          {0x30A1, 90, 10},
                                          {0x4E00, 2000, 10}});
  return t;
}

const unsigned char *bytes(const std::string &s) {
  return reinterpret_cast<const unsigned char *>(s.c_str());
}

/* Byte offsets of the characters of the UTF-8 text. */
const std::vector<int> &utf8_offsets() {
  static const std::vector<int> offsets = [] {
    std::vector<int> out;
    const std::string &t = utf8_text();
    for (int at = 0; at < static_cast<int>(t.size());) {
      out.push_back(at);
      at += gl_full_mblen(ours_utf8(), bytes(t) + at, static_cast<int>(t.size()) - at);
    }
    return out;
  }();
  return offsets;
}

void mblen_walk(benchmark::State &state, gl_locale *r, const std::string &text) {
  const unsigned char *s = bytes(text);
  const int size = static_cast<int>(text.size());
  for (auto _ : state) {
    int chars = 0;
    for (int at = 0; at < size; ++chars) {
      const int n = gl_full_mblen(r, s + at, size - at);
      if (n < 1) {
        state.SkipWithError("invalid character");
        return;
      }
      at += n;
    }
    benchmark::DoNotOptimize(chars);
  }
}

void mbrlen_walk(benchmark::State &state, locale_t peer, const std::string &text) {
  locale_t previous = uselocale(peer);
  const char *s = text.c_str();
  const std::size_t size = text.size();
  for (auto _ : state) {
    int chars = 0;
    mbstate_t st {};
    for (std::size_t at = 0; at < size; ++chars) {
      const std::size_t n = mbrlen(s + at, size - at, &st);
      if (n == 0 || n > size) {
        state.SkipWithError("invalid character");
        break;
      }
      at += n;
    }
    benchmark::DoNotOptimize(chars);
  }
  uselocale(previous);
}

void BM_MblenUtf8(benchmark::State &state) { mblen_walk(state, ours_utf8(), utf8_text()); }
void BM_MbrlenUtf8(benchmark::State &state) { mbrlen_walk(state, peer_utf8(), utf8_text()); }
void BM_MblenSjis(benchmark::State &state) { mblen_walk(state, ours_sjis(), sjis_text()); }
void BM_MbrlenSjis(benchmark::State &state) { mbrlen_walk(state, peer_sjis(), sjis_text()); }

void BM_Ismctype(benchmark::State &state) {
  gl_locale *r = ours_utf8();
  const unsigned char *s = bytes(utf8_text());
  for (auto _ : state) {
    int alpha = 0;
    for (int at : utf8_offsets())
      alpha += _gl_im_ismctype(r, s + at, GL_CLASS_ALPHA) != 0;
    benchmark::DoNotOptimize(alpha);
  }
}

void BM_IswalphaL(benchmark::State &state) {
  locale_t peer = peer_utf8();
  locale_t previous = uselocale(peer);
  const std::string &t = utf8_text();
  for (auto _ : state) {
    int alpha = 0;
    mbstate_t st {};
    for (int at : utf8_offsets()) {
      wchar_t wc = 0;
      mbrtowc(&wc, t.c_str() + at, t.size() - at, &st);
      alpha += iswalpha_l(static_cast<wint_t>(wc), peer) != 0;
    }
    benchmark::DoNotOptimize(alpha);
  }
  uselocale(previous);
}

void BM_Tombsupper(benchmark::State &state) {
  gl_locale *r = ours_utf8();
  std::vector<unsigned char> out(static_cast<std::size_t>(
      gl_case_conv_outbuflen(r, static_cast<int>(utf8_text().size()) + 1)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(gl_tombsupper(r, out.data(), bytes(utf8_text())));
  }
}

void BM_TowupperL(benchmark::State &state) {
  locale_t peer = peer_utf8();
  locale_t previous = uselocale(peer);
  const std::string &t = utf8_text();
  std::vector<char> out(t.size() * 4 + 1);
  for (auto _ : state) {
    mbstate_t in {};
    mbstate_t put {};
    std::size_t written = 0;
    for (std::size_t at = 0; at < t.size();) {
      wchar_t wc = 0;
      const std::size_t n = mbrtowc(&wc, t.c_str() + at, t.size() - at, &in);
      if (n == 0 || n > t.size()) break;
      written += wcrtomb(out.data() + written,
                         static_cast<wchar_t>(towupper_l(static_cast<wint_t>(wc), peer)), &put);
      at += n;
    }
    out[written] = 0;
    benchmark::DoNotOptimize(out.data());
  }
  uselocale(previous);
}

/* The ratio lines after the table. */
void print_ratios(const glsbench::RatioReporter &reporter) {
  reporter.print_header();
  reporter.ratio("gl_full_mblen / mbrlen, UTF-8 (target <= 1.5)", "mblen_utf8", "mbrlen_utf8");
  reporter.ratio("gl_full_mblen / mbrlen, SJIS (target <= 1.5)", "mblen_sjis", "mbrlen_sjis");
  reporter.ratio("_gl_im_ismctype / iswalpha_l (target <= 2)", "ismctype_utf8", "iswalpha_l_utf8");
  reporter.ratio("gl_tombsupper / towupper_l (target <= 2)", "tombsupper_utf8", "towupper_l_utf8");
}

}  // namespace

int main(int argc, char **argv) {
  const std::pair<const char *, void (*)(benchmark::State &)> runs[] = {
      {"mblen_utf8", BM_MblenUtf8},       {"mbrlen_utf8", BM_MbrlenUtf8},
      {"mblen_sjis", BM_MblenSjis},       {"mbrlen_sjis", BM_MbrlenSjis},
      {"ismctype_utf8", BM_Ismctype},     {"iswalpha_l_utf8", BM_IswalphaL},
      {"tombsupper_utf8", BM_Tombsupper}, {"towupper_l_utf8", BM_TowupperL}};
  for (const auto &[name, run] : runs)
    benchmark::RegisterBenchmark(name, run)->Unit(benchmark::kMicrosecond);
  glsbench::RatioReporter reporter(46);
  if (!glsbench::run_benchmarks(argc, argv, reporter, print_ratios)) return 1;
  gl_lc_unload(ours_utf8());
  gl_lc_unload(ours_sjis());
  gl_free_registry_cache();
  glsbench::shut_down();
  return 0;
}
