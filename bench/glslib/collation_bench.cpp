/*
** Collation against the C library in the same locale, each pair measured
** in the same run:
**   - the comparer installed for the shipped en_us/0333.lco and
**     fr_ca/0333.lco (their mbscoll_fn) against strcoll_l in
**     en_US.ISO-8859-1 and fr_CA.ISO-8859-1 (compiled with localedef into
**     a temporary directory), over fixed pairs of random Latin-1 words;
**   - the UTF-8 comparer of en_us/e01c.lco (_gl_im_mbscoll) against
**     strcoll_l in en_US.UTF-8, over words with Greek and Cyrillic too;
**   - gl_full_mbsxfrm against strxfrm_l over the same words.
** Prints the ratios after Google Benchmark's own table. Never a test.
*/
#include <locale.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "glslib.h"

namespace {

constexpr int word_count = 1000;

locale_t peer_en_us() { return glsbench::peer_locale("en_US", "ISO-8859-1"); }
locale_t peer_fr_ca() { return glsbench::peer_locale("fr_CA", "ISO-8859-1"); }
locale_t peer_en_us_utf8() { return glsbench::peer_locale("en_US", "UTF-8"); }

/* A shipped locale file, loaded once. */
gl_locale *shipped(const char *file) {
  static std::map<std::string, gl_locale *> loaded;
  auto it = loaded.find(file);
  if (it != loaded.end()) return it->second;
  gl_locale *l = glsbench::load_shipped(file);
  loaded.emplace(file, l);
  return l;
}

gl_locale *shipped_en_us() { return shipped("en_us/0333.lco"); }
gl_locale *shipped_fr_ca() { return shipped("fr_ca/0333.lco"); }
gl_locale *shipped_en_us_utf8() { return shipped("en_us/e01c.lco"); }

/* Words of 3 to 12 characters of an alphabet (one character per entry);
** word i + 1 shares a prefix with word i now and then, so comparisons run
** past the first character. */
std::vector<std::string> make_words(const std::vector<std::string> &alphabet) {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> length(3, 12);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::vector<std::string> out;
  std::vector<std::size_t> prefix_chars;
  for (int i = 0; i < word_count; ++i) {
    std::string w;
    if (i % 3 == 1) {
      /* half of the previous word's characters */
      std::size_t keep = prefix_chars.back() / 2, at = 0;
      const std::string &prev = out.back();
      for (std::size_t k = 0; k < keep; ++k) {
        do {
          ++at;
        } while (at < prev.size() && (static_cast<unsigned char>(prev[at]) & 0xC0) == 0x80);
      }
      w = prev.substr(0, at);
    }
    int n = length(rng);
    for (int k = n; k > 0; --k)
      w += alphabet[pick(rng)];
    out.push_back(w);
    prefix_chars.push_back(static_cast<std::size_t>(n));
  }
  return out;
}

/* Latin-1 letters, digits and blanks. */
const std::vector<std::string> &words() {
  static const std::vector<std::string> list = [] {
    const std::string letters =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 "
        "\xE0\xE1\xE4\xE7\xE8\xE9\xEA\xF6\xFC\xC4\xC9\xD6";
    std::vector<std::string> alphabet;
    for (char c : letters)
      alphabet.emplace_back(1, c);
    return make_words(alphabet);
  }();
  return list;
}

/* The same in UTF-8, with Greek and Cyrillic letters besides. */
const std::vector<std::string> &utf8_words() {
  static const std::vector<std::string> list = [] {
    std::vector<std::string> alphabet;
    for (const std::string &w : {std::string("abcdefghijklmnopqrstuvwxyzABCDEFGHIJ0123456789 ")})
      for (char c : w)
        alphabet.emplace_back(1, c);
    for (const char *c : {"\xC3\xA0", "\xC3\xA9", "\xC3\xB6", "\xC3\xBC", "\xC3\x89", "\xCE\xB1",
                          "\xCE\xB2", "\xCE\xB3", "\xCE\x94", "\xCF\x89", "\xD0\xB0", "\xD0\xB1",
                          "\xD0\x96", "\xD1\x8F", "\xD0\xBA"})
      alphabet.emplace_back(c);
    return make_words(alphabet);
  }();
  return list;
}

const unsigned char *u(const std::string &s) {
  return reinterpret_cast<const unsigned char *>(s.c_str());
}

/* Our comparer fn of the file against strcoll_l in its peer, over the
** neighbouring pairs of a word list. */
template <gl_locale *(*File)(), locale_t (*Peer)(), const std::vector<std::string> &(*Words)()>
void BM_Comparer(benchmark::State &state) {
  gl_locale *r = File();
  const auto &w = Words();
  for (auto _ : state) {
    int sum = 0;
    for (std::size_t i = 0; i + 1 < w.size(); ++i)
      sum += r->mbscoll_fn(r, u(w[i]), u(w[i + 1]));
    benchmark::DoNotOptimize(sum);
  }
}

template <locale_t (*Peer)(), const std::vector<std::string> &(*Words)()>
void BM_StrcollL(benchmark::State &state) {
  locale_t l = Peer();
  const auto &w = Words();
  for (auto _ : state) {
    int sum = 0;
    for (std::size_t i = 0; i + 1 < w.size(); ++i)
      sum += strcoll_l(w[i].c_str(), w[i + 1].c_str(), l);
    benchmark::DoNotOptimize(sum);
  }
}

template <gl_locale *(*File)(), const std::vector<std::string> &(*Words)()>
void BM_MbsXfrm(benchmark::State &state) {
  gl_locale *r = File();
  const auto &w = Words();
  unsigned char out[512];
  for (auto _ : state) {
    int sum = 0;
    for (const std::string &s : w)
      sum += gl_full_mbsxfrm(r, out, u(s), sizeof out);
    benchmark::DoNotOptimize(sum);
  }
}

template <locale_t (*Peer)(), const std::vector<std::string> &(*Words)()>
void BM_StrxfrmL(benchmark::State &state) {
  locale_t l = Peer();
  const auto &w = Words();
  char out[512];
  for (auto _ : state) {
    std::size_t sum = 0;
    for (const std::string &s : w)
      sum += strxfrm_l(out, s.c_str(), sizeof out, l);
    benchmark::DoNotOptimize(sum);
  }
}

/* The ratio lines after the table. */
void print_ratios(const glsbench::RatioReporter &reporter) {
  reporter.print_header();
  reporter.ratio("en_us mbscoll_fn / strcoll_l (target <= 1.0)", "en_us_mbscoll", "strcoll_l_en");
  reporter.ratio("fr_ca mbscoll_fn / strcoll_l (target <= 1.0)", "fr_ca_mbscoll", "strcoll_l_fr");
  reporter.ratio("utf8 _gl_im_mbscoll / strcoll_l (target <= 2.5)", "utf8_mbscoll",
                 "strcoll_l_utf8");
  reporter.ratio("en_us gl_full_mbsxfrm / strxfrm_l (target <= 2)", "en_us_mbsxfrm",
                 "strxfrm_l_en");
  reporter.ratio("utf8 gl_full_mbsxfrm / strxfrm_l (target <= 2)", "utf8_mbsxfrm",
                 "strxfrm_l_utf8");
}

}  // namespace

int main(int argc, char **argv) {
  const auto us = benchmark::kMicrosecond;
  benchmark::RegisterBenchmark("en_us_mbscoll", BM_Comparer<shipped_en_us, peer_en_us, words>)
      ->Unit(us);
  benchmark::RegisterBenchmark("strcoll_l_en", BM_StrcollL<peer_en_us, words>)->Unit(us);
  benchmark::RegisterBenchmark("fr_ca_mbscoll", BM_Comparer<shipped_fr_ca, peer_fr_ca, words>)
      ->Unit(us);
  benchmark::RegisterBenchmark("strcoll_l_fr", BM_StrcollL<peer_fr_ca, words>)->Unit(us);
  benchmark::RegisterBenchmark("utf8_mbscoll",
                               BM_Comparer<shipped_en_us_utf8, peer_en_us_utf8, utf8_words>)
      ->Unit(us);
  benchmark::RegisterBenchmark("strcoll_l_utf8", BM_StrcollL<peer_en_us_utf8, utf8_words>)
      ->Unit(us);
  benchmark::RegisterBenchmark("en_us_mbsxfrm", BM_MbsXfrm<shipped_en_us, words>)->Unit(us);
  benchmark::RegisterBenchmark("strxfrm_l_en", BM_StrxfrmL<peer_en_us, words>)->Unit(us);
  benchmark::RegisterBenchmark("utf8_mbsxfrm", BM_MbsXfrm<shipped_en_us_utf8, utf8_words>)
      ->Unit(us);
  benchmark::RegisterBenchmark("strxfrm_l_utf8", BM_StrxfrmL<peer_en_us_utf8, utf8_words>)
      ->Unit(us);
  glsbench::RatioReporter reporter(44, 52);
  if (!glsbench::run_benchmarks(argc, argv, reporter, print_ratios)) return 1;
  for (gl_locale *r : {shipped_en_us(), shipped_fr_ca(), shipped_en_us_utf8()})
    gl_lc_unload(r);
  glsbench::shut_down();
  return 0;
}
