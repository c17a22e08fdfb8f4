/*
** gls_gen_locales - writes the locale files the locale library ships
** (lc11/ of the tree that installs as $DOVARIZADIR/gls) from the system's
** locale sources and charmaps.
**
** Usage: gls_gen_locales <gls directory> <work directory> <overlay
** directory>. Run by the build target regen-gls-data after gls_gen (the
** shipped registry must be there: each file's code-set name is checked
** against it). Each locale source is compiled with localedef into <work
** directory>/loc/, read back through the C library (locale_glibc), merged
** with its hand-authored overlay when it has one (locale_overlay: the
** calendar, its month names, eras) and written as a .lco file (locale_lco)
** to a temporary name that replaces the file only when complete and
** checked. Same system locale data and overlays, same bytes. Exit status 0,
** or 1 with a message on standard error.
*/
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "gl_chars.h"
#include "gl_locale.h"
#include "glslib.h"
#include "locale_glibc.h"
#include "locale_lco.h"
#include "locale_overlay.h"

namespace {

namespace fs = std::filesystem;

struct ShippedLocale {
  const char *path; /* relative to the gls directory */
  const char *work; /* directory name of the compiled system locale */
  glsgen::LocaleSource source;
  int cs_number; /* the registry number of its code set */
  const char *overlay = nullptr; /* file under the overlay directory, or none */
};

using glsgen::Collation;
using glsgen::Repertoire;

const ShippedLocale shipped_locales[] = {
    {"lc11/default.lco", "gls-posix", {"POSIX", "ISO-8859-1", "iso-8859-1"}, 819},
    {"lc11/en_us/0333.lco",
     "gls-en_us",
     {"en_US", "ISO-8859-1", "iso-8859-1", Repertoire::charmap, Collation::weights},
     819},
    {"lc11/de_de/0333.lco",
     "gls-de_de",
     {"de_DE", "ISO-8859-1", "iso-8859-1", Repertoire::charmap, Collation::weights},
     819},
    /* French with the backward accent pass: in the system's sources only
    ** fr_CA defines it (fr_FR orders accents forward). */
    {"lc11/fr_ca/0333.lco",
     "gls-fr_ca",
     {"fr_CA", "ISO-8859-1", "iso-8859-1", Repertoire::charmap, Collation::weights},
     819},
    {"lc11/en_us/e01c.lco",
     "gls-en-us-utf8",
     {"en_US", "UTF-8", "utf8", Repertoire::unicode, Collation::weights},
     0xE01C},
    {"lc11/ja_jp/e006.lco",
     "gls-ja-jp-sjis",
     {"ja_JP", "SHIFT_JIS", "sjis"},
     0xE006,
     "ja_jp_eras.txt"},
    {"lc11/ja_jp/e007.lco",
     "gls-ja-jp-eucjp",
     {"ja_JP", "EUC-JP", "ujis"},
     0xE007,
     "ja_jp_eras.txt"},
    {"lc11/th_th/e01d.lco",
     "gls-th-th-tis620",
     {"th_TH", "TIS-620", "thai620", Repertoire::charmap, Collation::thai_smo},
     0xE01D},
    /* The Hebrew and the Islamic calendar: the system's sources name the
    ** Gregorian months only, the overlays give the calendar's own. */
    {"lc11/he_il/0394.lco",
     "gls-he-il-8859-8",
     {"he_IL", "ISO-8859-8", "8859-8"},
     0x0394,
     "he_il_hebrew_calendar.txt"},
    {"lc11/ar_sa/0441.lco",
     "gls-ar-sa-8859-6",
     {"ar_SA", "ISO-8859-6", "8859-6"},
     0x0441,
     "ar_sa_islamic_calendar.txt"},
};

/* An error word to hand the library as its record. */
struct ErrorWord {
  int err = 0;
  gl_locale *record() { return reinterpret_cast<gl_locale *>(&err); }
};

/* The code-set name the file declares must name its code set in the
** shipped registry. */
bool check_registry_name(const fs::path &root, const ShippedLocale &l) {
  ErrorWord word;
  fs::path registry = root / "cm3" / "registry";
  int number = gl_cs_name2cs_num(word.record(), l.source.registry_name.c_str(), registry.c_str());
  if (number != l.cs_number) {
    std::fprintf(stderr, "gls_gen_locales: %s: code set \"%s\" is %d in %s (error %d), not %d\n",
                 l.path, l.source.registry_name.c_str(), number, registry.c_str(), word.err,
                 l.cs_number);
    return false;
  }
  return true;
}

/* The texts joined by newline, as langinfo gives a list. */
std::string joined(const std::vector<std::string> &texts) {
  std::string all;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) all += '\n';
    all += texts[i];
  }
  return all;
}

/* The written file, loaded through the library, must answer what the
** system locale and the overlay said: every character's class and case
** partners, the texts the checks below name (every month, the calendar and
** the eras, which must parse), and the shape of the weight tables. */
bool check_lco(const fs::path &file, const glsgen::LocaleData &d) {
  setenv("GL_PATH", file.parent_path().c_str(), 1);
  gl_locale *loc = nullptr;
  if (gl_create_null_locale_4(&loc) != 0) return false;
  char *query = gl_setlocale_4(loc, GL_ALL, file.filename().c_str());
  std::string problem;
  if (query == nullptr || loc->error != 0)
    problem = "does not load (error " + std::to_string(loc->error) + ")";
  gl_destroystring(query);
  for (std::size_t i = 0; problem.empty() && i < d.charmap.chars.size(); ++i) {
    const auto &bytes = d.charmap.chars[i].bytes;
    gl_wchar wc = glsgen::pack_bytes(bytes);
    int mask = _gl_im_ismctype(loc, bytes.data(), 0xFFFF);
    gl_wchar upper = wc;
    gl_wchar lower = wc;
    if (d.case_index[i] != 0) {
      upper = d.case_pairs[d.case_index[i] - 1].first;
      lower = d.case_pairs[d.case_index[i] - 1].second;
    }
    if (mask != d.masks[i] || _gl_im_towupper(loc, wc) != upper ||
        _gl_im_towlower(loc, wc) != lower) {
      problem = "character " + std::to_string(wc) + " reads back wrong";
    }
  }
  auto same = [&](int item, const std::string &expected) {
    const char *text = gl_nl_langinfo(loc, item);
    if (problem.empty() && (text == nullptr || expected != text)) {
      problem = "langinfo item " + std::to_string(item) + " reads back wrong";
    }
  };
  same(GL_RADIXCHAR, d.decimal_point);
  same(GL_CODESET, d.registry_name);
  same(GL_CALENDAR, d.calendar + "\n");
  same(GL_D_T_FMT, d.d_t_fmt);
  for (std::size_t i = 0; i < d.mon.size(); ++i) {
    same(GL_MON_1 + static_cast<int>(i), d.mon[i]);
    same(GL_ABMON_1 + static_cast<int>(i), d.abmon[i]);
  }
  if (!d.eras.empty()) same(GL_ERA, joined(d.eras));
  same(GL_NOSTR, d.no_str);
  if (problem.empty() && d.collation == glsgen::Collation::weights) {
    const glsgen::CollateTables &t = d.collate;
    if (loc->codeset_order != 0 || loc->pass_count != static_cast<int>(t.weights.size()) ||
        loc->highest_row + 1 != static_cast<int>(t.weights[0].size()) ||
        loc->element_count != static_cast<int>(t.elements.size()) ||
        loc->expansion_count != static_cast<int>(t.expansions.size()))
      problem = "COLLATE reads back wrong";
  }
  gl_lc_unload(loc);
  unsetenv("GL_PATH");
  if (!problem.empty())
    std::fprintf(stderr, "gls_gen_locales: %s %s\n", file.c_str(), problem.c_str());
  return problem.empty();
}

/* Merges the locale's overlay, when it has one, and names it among the
** file's provenance lines. */
bool merge_overlay(const fs::path &overlays, const ShippedLocale &l, glsgen::LocaleData &data,
                   std::string *error) {
  if (l.overlay == nullptr) return true;
  glsgen::TimeOverlay overlay;
  if (!glsgen::read_overlay((overlays / l.overlay).string(), overlay, error) ||
      !glsgen::apply_overlay(overlay, data, error))
    return false;
  data.provenance.push_back(std::string("OVERLAY=") + l.overlay);
  return true;
}

bool generate(const fs::path &root, const fs::path &work, const fs::path &overlays,
              const ShippedLocale &l) {
  if (!check_registry_name(root, l)) return false;
  glsgen::LocaleData data;
  std::string error;
  if (!glsgen::extract_locale(l.source, work.string(), l.work, data, &error) ||
      !merge_overlay(overlays, l, data, &error)) {
    std::fprintf(stderr, "gls_gen_locales: %s: %s\n", l.path, error.c_str());
    return false;
  }
  fs::path target = root / l.path;
  fs::path temporary = target;
  temporary += ".tmp";
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  FILE *fp = ec ? nullptr : std::fopen(temporary.c_str(), "w");
  if (fp == nullptr) {
    std::fprintf(stderr, "gls_gen_locales: cannot write %s\n", temporary.c_str());
    return false;
  }
  bool ok = glsgen::write_lco(fp, data, &error);
  ok = std::fclose(fp) == 0 && ok;
  if (ok) ok = check_lco(temporary, data);
  if (ok) {
    fs::rename(temporary, target, ec);
    if (ec) error = ec.message();
    ok = !ec;
  }
  if (!ok) {
    std::fprintf(stderr, "gls_gen_locales: %s: %s\n", target.c_str(), error.c_str());
    fs::remove(temporary, ec);
  }
  return ok;
}

}  // namespace

/* The C library's newlocale keeps a LOCPATH list it never frees; under the
** leak checker of sanitizer builds that is not ours to report. */
extern "C" const char *__lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }
extern "C" const char *__lsan_default_options() { return "print_suppressions=0"; }

int main(int argc, char **argv) {
  if (argc != 4 || argv[1][0] == '\0' || argv[2][0] == '\0' || argv[3][0] == '\0') {
    std::fprintf(stderr,
                 "usage: gls_gen_locales <gls directory> <work directory> <overlay directory>\n");
    return 1;
  }
  for (const ShippedLocale &l : shipped_locales) {
    if (!generate(argv[1], argv[2], argv[3], l)) return 1;
  }
  return 0;
}
