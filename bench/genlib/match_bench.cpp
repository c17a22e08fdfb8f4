/*
** MATCHES and LIKE against their nearest peers, each pair measured in the
** same run over the same 100,000 fixed random CHAR values, one value per
** iteration, the pattern the same for every value (so the compiled path
** finds it in its cache):
** - LIKE 'a%b_c%' under en_us.8859-1 (the byte matcher) against
**   sqlite3_strlike with the backslash escape;
** - MATCHES '*ab*c?' likewise against glibc fnmatch (flags 0, C locale);
** - the same two under en_us.utf8 (the compiled matcher), with 'é' and
**   'ß' among the letters, against the same peers (fnmatch under
**   C.UTF-8);
** - MATCHES '*a*a*a*a*b' against a run of n and of 2n 'a' (no match) on
**   both matchers: time(2n) / time(n) shows how the many-character retry
**   grows.
** The peers get the values without their padding blanks. Before timing,
** the program checks that ours and the peer agree on every value.
**
** The client locale initialises from the build's locale data before the
** timed loops; a switch of locale, and the first match after it (which
** builds the normaliser and compiles the pattern), happen outside them.
*/
#include <benchmark/benchmark.h>
#include <fnmatch.h>
#include <locale.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench_locale.h"
#include "bench_support.h"
#include "gen_exprtypes.h"
#include "gen_match.h"
#include "gen_types.h"
#include "os_glsenv.h"
#include "os_glsenvs.h"

namespace {

constexpr size_t value_count = 100000;

[[noreturn]] void refuse(const std::string &what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::exit(1);
}

/* ---- Locales ------------------------------------------------------------------ */

enum class path { bytes, compiled };

/* Makes the client locale (and the peers' C library locale) the one of
** the path, reloading it only on a change. */
void use_path(path p) {
  static int current = -1;
  if (current == static_cast<int>(p)) return;
  FreeAllGlsEnv();
  if (p == path::compiled)
    setenv("CLIENT_LOCALE", "en_us.utf8", 1);
  else
    unsetenv("CLIENT_LOCALE");
  if (chkglsinit() != 0) refuse("the client locale does not initialise");
  if (setlocale(LC_ALL, p == path::compiled ? "C.UTF-8" : "C") == nullptr)
    refuse("the C library has no C.UTF-8 locale");
  current = static_cast<int>(p);
}

/* ---- Values ------------------------------------------------------------------- */

/* CHAR values padded with blanks to width bytes, one after another in
** one block, and the same texts without the padding, each terminated, in
** a block of the same stride, for the peers: both sides read memory laid
** out alike. */
struct value_set {
  size_t width = 0;
  std::vector<char> padded;
  std::vector<char> trimmed; /* width + 1 bytes per value */

  /* The CHAR value n (the operator reads it in place). */
  value_t value(size_t n) {
    value_t v {};
    v.vtype = sql_type_char;
    v.vptr = padded.data() + n * width;
    v.vlen = static_cast<int32_t>(width);
    return v;
  }
  const char *text(size_t n) const { return trimmed.data() + n * (width + 1); }
};

value_set make_values(path p) {
  static const std::vector<std::string> ascii = {"a", "b", "c"};
  static const std::vector<std::string> utf8 = {"a", "b", "c", "\xC3\xA9", "\xC3\x9F"};
  const std::vector<std::string> &letters = p == path::compiled ? utf8 : ascii;
  std::mt19937 random(p == path::compiled ? 117 : 20261211);
  value_set set;
  set.width = p == path::compiled ? 32 : 16;
  set.padded.assign(value_count * set.width, ' ');
  set.trimmed.assign(value_count * (set.width + 1), '\0');
  for (size_t n = 0; n < value_count; ++n) {
    std::string text;
    int length = 4 + static_cast<int>(random() % 9);
    for (int k = 0; k < length; ++k)
      text += letters[random() % letters.size()];
    std::memcpy(set.padded.data() + n * set.width, text.data(), text.size());
    std::memcpy(set.trimmed.data() + n * (set.width + 1), text.data(), text.size());
  }
  return set;
}

value_set &values(path p) {
  static value_set bytes = make_values(path::bytes);
  static value_set compiled = make_values(path::compiled);
  return p == path::compiled ? compiled : bytes;
}

value_t char_value(const std::string &text) {
  value_t v {};
  v.vtype = sql_type_char;
  v.vptr = const_cast<char *>(text.data());
  v.vlen = static_cast<int32_t>(text.size());
  return v;
}

/* The patterns of each path: ours and the peers' are the same text. */
struct patterns {
  std::string like;
  std::string matches;
};

const patterns &patterns_of(path p) {
  static const patterns bytes = {"a%b_c%", "*ab*c?"};
  static const patterns compiled = {"%\xC3\xA9%b_", "*\xC3\xA9*b?"};
  return p == path::compiled ? compiled : bytes;
}

int ours(int op, value_t &value, value_t &pattern) {
  value_t r {};
  if (exmatch(op, &value, &pattern, &r) != 0) return -1;
  return r.vint;
}

/* ---- Benchmarks ----------------------------------------------------------------- */

void BM_Like(benchmark::State &state, path p) {
  use_path(p);
  value_set &set = values(p);
  std::string text = patterns_of(p).like;
  value_t pattern = char_value(text);
  value_t first = set.value(0);
  (void)ours(EX_LIKE, first, pattern); /* builds the normaliser, compiles */
  size_t i = 0;
  for (auto _ : state) {
    value_t v = set.value(i);
    int hit = ours(EX_LIKE, v, pattern);
    benchmark::DoNotOptimize(hit);
    if (++i == value_count) i = 0;
  }
}

void BM_Strlike(benchmark::State &state, path p) {
  use_path(p);
  value_set &set = values(p);
  const std::string &pattern = patterns_of(p).like;
  size_t i = 0;
  for (auto _ : state) {
    int hit = sqlite3_strlike(pattern.c_str(), set.text(i), '\\');
    benchmark::DoNotOptimize(hit);
    if (++i == value_count) i = 0;
  }
}

void BM_Matches(benchmark::State &state, path p) {
  use_path(p);
  value_set &set = values(p);
  std::string text = patterns_of(p).matches;
  value_t pattern = char_value(text);
  value_t first = set.value(0);
  (void)ours(EX_MATCHES, first, pattern); /* builds the normaliser, compiles */
  size_t i = 0;
  for (auto _ : state) {
    value_t v = set.value(i);
    int hit = ours(EX_MATCHES, v, pattern);
    benchmark::DoNotOptimize(hit);
    if (++i == value_count) i = 0;
  }
}

void BM_Fnmatch(benchmark::State &state, path p) {
  use_path(p);
  value_set &set = values(p);
  const std::string &pattern = patterns_of(p).matches;
  size_t i = 0;
  for (auto _ : state) {
    int hit = fnmatch(pattern.c_str(), set.text(i), 0);
    benchmark::DoNotOptimize(hit);
    if (++i == value_count) i = 0;
  }
}

constexpr int retry_run = 2000;
const char *const retry_pattern = "*a*a*a*a*b";

void BM_Retry(benchmark::State &state, path p, int length) {
  use_path(p);
  std::string run(static_cast<size_t>(length), 'a');
  value_t value = char_value(run);
  std::string text = retry_pattern;
  value_t pattern = char_value(text);
  (void)ours(EX_MATCHES, value, pattern); /* builds the normaliser, compiles */
  for (auto _ : state) {
    int hit = ours(EX_MATCHES, value, pattern);
    benchmark::DoNotOptimize(hit);
  }
}

/* ---- Agreement before timing ------------------------------------------------------ */

void check_agreement(path p) {
  use_path(p);
  value_set &set = values(p);
  std::string like_text = patterns_of(p).like;
  std::string matches_text = patterns_of(p).matches;
  value_t like = char_value(like_text);
  value_t matches = char_value(matches_text);
  size_t hits = 0;
  for (size_t n = 0; n < value_count; ++n) {
    int peer_like = sqlite3_strlike(like_text.c_str(), set.text(n), '\\') == 0 ? 1 : 0;
    int peer_matches = fnmatch(matches_text.c_str(), set.text(n), 0) == 0 ? 1 : 0;
    value_t v = set.value(n);
    if (ours(EX_LIKE, v, like) != peer_like)
      refuse("LIKE and sqlite3_strlike disagree on '" + std::string(set.text(n)) + "'");
    if (ours(EX_MATCHES, v, matches) != peer_matches)
      refuse("MATCHES and fnmatch disagree on '" + std::string(set.text(n)) + "'");
    hits += static_cast<size_t>(peer_like + peer_matches);
  }
  if (hits == 0) refuse("no value matches: the comparison would time only misses");
  std::string run(retry_run, 'a');
  value_t value = char_value(run);
  std::string retry_text = retry_pattern;
  value_t retry = char_value(retry_text);
  if (ours(EX_MATCHES, value, retry) != 0) refuse("a run of 'a' matches '*a*a*a*a*b'");
}

void print_ratios(const glsbench::RatioReporter &r) {
  r.print_header();
  r.ratio("LIKE / sqlite3_strlike (bytes) <= 2", "like_bytes", "strlike_bytes");
  r.ratio("MATCHES / fnmatch (bytes) <= 2", "matches_bytes", "fnmatch_bytes");
  r.ratio("LIKE / sqlite3_strlike (UTF-8)", "like_utf8", "strlike_utf8");
  r.ratio("MATCHES / fnmatch (UTF-8)", "matches_utf8", "fnmatch_utf8");
  r.ratio("retry 2n / n (bytes) <= 5", "retry_bytes/4000", "retry_bytes/2000");
  r.ratio("retry 2n / n (UTF-8)", "retry_utf8/4000", "retry_utf8/2000");
}

}  // namespace

int main(int argc, char **argv) {
  if (!bench_client_locale(DVZ_BUILD_DOVARIZADIR)) refuse("the client locale does not initialise");
  check_agreement(path::bytes);
  check_agreement(path::compiled);

  for (path p : {path::bytes, path::compiled}) {
    const std::string suffix = p == path::compiled ? "_utf8" : "_bytes";
    benchmark::RegisterBenchmark(("like" + suffix).c_str(), BM_Like, p);
    benchmark::RegisterBenchmark(("strlike" + suffix).c_str(), BM_Strlike, p);
    benchmark::RegisterBenchmark(("matches" + suffix).c_str(), BM_Matches, p);
    benchmark::RegisterBenchmark(("fnmatch" + suffix).c_str(), BM_Fnmatch, p);
    for (int length : {retry_run, 2 * retry_run})
      benchmark::RegisterBenchmark(("retry" + suffix + "/" + std::to_string(length)).c_str(),
                                   BM_Retry, p, length);
  }
  glsbench::RatioReporter reporter(42, 42);
  if (!glsbench::run_benchmarks(argc, argv, reporter, print_ratios)) return 1;
  glsbench::shut_down();
  FreeAllGlsEnv();
  return 0;
}
