/*
** locale_glibc - reads a compiled system locale into a LocaleData record
** (see locale_glibc.h). The characters are the charmap's, or for the
** Unicode repertoire every scalar value encoded in UTF-8. Classes come
** from isw*_l on each character's Unicode value, widths from wcwidth, case
** partners from towupper_l and towlower_l (kept only when the partner is
** in the repertoire), texts from nl_langinfo_l and the conventions from
** localeconv under uselocale. The byte-to-Unicode mapping is checked
** against mbrtowc of the compiled locale, so a charmap the reader
** misunderstood cannot slip into a shipped file. The COLLATE weights
** come from strxfrm_l (locale_glibc_collate.cpp). Called by
** locale_gen.cpp; calls the charmap reader, localedef and the C library's
** locale functions.
*/
#include "locale_glibc.h"

#include "gl_locale.h"

#include <fcntl.h>
#include <gnu/libc-version.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wchar.h>
#include <wctype.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>

namespace glsgen {

namespace {

namespace fs = std::filesystem;

constexpr const char *charmap_dir = "/usr/share/i18n/charmaps";

/* The locale, freed on scope exit. */
struct LocaleHandle {
  locale_t loc = nullptr;
  ~LocaleHandle() {
    if (loc != nullptr) freelocale(loc);
  }
};

/* Makes loc the calling thread's locale for the object's lifetime. */
struct UseLocale {
  locale_t previous;
  explicit UseLocale(locale_t loc) : previous(uselocale(loc)) {}
  ~UseLocale() { uselocale(previous); }
};

/* Runs localedef -i source -f charmap out_dir with its output in log_path.
** Returns its exit status, or -1 when it could not run. */
int run_localedef(const LocaleSource &src, const std::string &out_dir,
                  const std::string &log_path) {
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
      close(fd);
    }
    execlp("localedef", "localedef", "-i", src.source.c_str(), "-f", src.charmap.c_str(),
           out_dir.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string charmap_path(const std::string &name) {
  std::string gz = std::string(charmap_dir) + "/" + name + ".gz";
  if (fs::exists(gz)) return gz;
  return std::string(charmap_dir) + "/" + name;
}

constexpr uint32_t last_scalar = 0x10FFFF;
constexpr uint32_t surrogate_first = 0xD800;
constexpr uint32_t surrogate_last = 0xDFFF;

/* The UTF-8 form of a scalar value. */
std::vector<unsigned char> utf8_bytes(uint32_t u) {
  auto cont = [](uint32_t bits) { return static_cast<unsigned char>(0x80 | (bits & 0x3F)); };
  if (u < 0x80) return {static_cast<unsigned char>(u)};
  if (u < 0x800) return {static_cast<unsigned char>(0xC0 | (u >> 6)), cont(u)};
  if (u < 0x10000) return {static_cast<unsigned char>(0xE0 | (u >> 12)), cont(u >> 6), cont(u)};
  return {static_cast<unsigned char>(0xF0 | (u >> 18)), cont(u >> 12), cont(u >> 6), cont(u)};
}

/* Every Unicode scalar value in UTF-8, in byte order (which is value
** order). by_ucs is left empty: repertoire_char computes the index. */
void unicode_repertoire(Charmap &cm) {
  cm = Charmap {};
  cm.name = "UTF-8";
  cm.mb_cur_min = 1;
  cm.mb_cur_max = 4;
  cm.chars.reserve(last_scalar + 1 - (surrogate_last - surrogate_first + 1));
  for (uint32_t u = 0; u <= last_scalar; ++u) {
    if (u == surrogate_first) u = surrogate_last + 1;
    cm.chars.push_back(CharmapChar {utf8_bytes(u), u});
  }
}

uint16_t class_mask(wint_t wc, locale_t loc) {
  struct Bit {
    int (*test)(wint_t, locale_t);
    uint16_t bit;
  };
  static constexpr Bit class_bits[] = {
      {iswupper_l, GL_CLASS_UPPER},   {iswlower_l, GL_CLASS_LOWER}, {iswalpha_l, GL_CLASS_ALPHA},
      {iswdigit_l, GL_CLASS_DIGIT},   {iswspace_l, GL_CLASS_SPACE}, {iswcntrl_l, GL_CLASS_CNTRL},
      {iswpunct_l, GL_CLASS_PUNCT},   {iswgraph_l, GL_CLASS_GRAPH}, {iswprint_l, GL_CLASS_PRINT},
      {iswxdigit_l, GL_CLASS_XDIGIT}, {iswblank_l, GL_CLASS_BLANK},
  };
  uint16_t mask = 0;
  for (const Bit &b : class_bits) {
    if (b.test(wc, loc) != 0) mask |= b.bit;
  }
  return mask;
}

/* Each byte of a grouping string as a size; CHAR_MAX (no further grouping)
** becomes -1. */
std::vector<int> grouping_of(const char *g) {
  std::vector<int> sizes;
  for (; g != nullptr && *g != '\0'; ++g) {
    sizes.push_back(*g == CHAR_MAX ? -1 : static_cast<signed char>(*g));
  }
  return sizes;
}

int mon_int(char c) { return c == CHAR_MAX ? 2147483647 : static_cast<signed char>(c); }

std::string text(nl_item item, locale_t loc) {
  const char *s = nl_langinfo_l(item, loc);
  return s == nullptr ? std::string() : std::string(s);
}

/* The alternative digits: strftime's %Oy for the years 0..99 gives the
** n-th alternative digit while there is one, else the plain number. */
std::vector<std::string> alternative_digits(locale_t loc) {
  UseLocale use(loc);
  std::vector<std::string> digits;
  for (int n = 0; n < 100; ++n) {
    std::tm t {};
    t.tm_year = n;
    t.tm_mday = 1;
    char alt[128] = {};
    char plain[128] = {};
    std::strftime(alt, sizeof alt, "%Oy", &t);
    std::strftime(plain, sizeof plain, "%y", &t);
    if (std::strcmp(alt, plain) == 0) break;
    digits.emplace_back(alt);
  }
  return digits;
}

/* Every charmap character must decode in the compiled locale to the
** Unicode value the charmap gives it. */
bool check_charmap(const Charmap &cm, locale_t loc, std::string *error) {
  UseLocale use(loc);
  for (const CharmapChar &c : cm.chars) {
    std::mbstate_t state {};
    wchar_t wc = 0;
    std::size_t n =
        mbrtowc(&wc, reinterpret_cast<const char *>(c.bytes.data()), c.bytes.size(), &state);
    std::size_t expected = c.ucs == 0 ? 0 : c.bytes.size();
    if (n != expected || static_cast<uint32_t>(wc) != c.ucs) {
      *error = "charmap and compiled locale disagree on character U+" + std::to_string(c.ucs);
      return false;
    }
  }
  return true;
}

void read_ctype(locale_t loc, LocaleData &out) {
  const Charmap &cm = out.charmap;
  UseLocale use(loc);
  out.masks.assign(cm.chars.size(), 0);
  out.case_index.assign(cm.chars.size(), 0);
  std::map<std::pair<uint32_t, uint32_t>, uint16_t> pair_numbers;
  for (std::size_t i = 0; i < cm.chars.size(); ++i) {
    const CharmapChar &c = cm.chars[i];
    auto wc = static_cast<wint_t>(c.ucs);
    uint16_t mask = class_mask(wc, loc);
    if ((mask & GL_CLASS_PRINT) != 0 && wcwidth(static_cast<wchar_t>(wc)) == 2) {
      mask |= GL_CLASS_NAMED;
      out.any_full_width = true;
    }
    out.masks[i] = mask;

    /* A partner outside the repertoire does not count. */
    auto partner = [&](wint_t p) -> const CharmapChar & {
      const CharmapChar *found = repertoire_char(out, static_cast<uint32_t>(p));
      return found == nullptr ? c : *found;
    };
    const CharmapChar &up = partner(towupper_l(wc, loc));
    const CharmapChar &low = partner(towlower_l(wc, loc));
    if (&up == &c && &low == &c) continue;
    std::pair<uint32_t, uint32_t> pair {pack_bytes(up.bytes), pack_bytes(low.bytes)};
    auto [it, added] = pair_numbers.emplace(pair, static_cast<uint16_t>(out.case_pairs.size() + 1));
    if (added) out.case_pairs.push_back(pair);
    out.case_index[i] = it->second;
    double ratio = static_cast<double>(std::max(up.bytes.size(), low.bytes.size())) /
                   static_cast<double>(c.bytes.size());
    out.case_expansion = std::max(out.case_expansion, ratio);
  }
}

void read_conventions(locale_t loc, LocaleData &out) {
  out.decimal_point = text(RADIXCHAR, loc);
  out.thousands_sep = text(THOUSEP, loc);
  UseLocale use(loc);
  const lconv *lc = localeconv();
  out.grouping = grouping_of(lc->grouping);
  out.int_curr_symbol = lc->int_curr_symbol;
  out.currency_symbol = lc->currency_symbol;
  out.mon_decimal_point = lc->mon_decimal_point;
  out.mon_thousands_sep = lc->mon_thousands_sep;
  out.mon_grouping = grouping_of(lc->mon_grouping);
  out.positive_sign = lc->positive_sign;
  out.negative_sign = lc->negative_sign;
  out.mon_ints = {mon_int(lc->int_frac_digits), mon_int(lc->frac_digits),
                  mon_int(lc->p_cs_precedes),   mon_int(lc->p_sep_by_space),
                  mon_int(lc->n_cs_precedes),   mon_int(lc->n_sep_by_space),
                  mon_int(lc->p_sign_posn),     mon_int(lc->n_sign_posn)};
}

void read_time(locale_t loc, LocaleData &out) {
  for (int i = 0; i < 7; ++i) {
    out.abday[i] = text(static_cast<nl_item>(ABDAY_1 + i), loc);
    out.day[i] = text(static_cast<nl_item>(DAY_1 + i), loc);
  }
  for (int i = 0; i < 12; ++i) {
    out.abmon.push_back(text(static_cast<nl_item>(ABMON_1 + i), loc));
    out.mon.push_back(text(static_cast<nl_item>(MON_1 + i), loc));
  }
  out.d_t_fmt = rewrite_time_format(text(D_T_FMT, loc));
  out.d_fmt = rewrite_time_format(text(D_FMT, loc));
  out.t_fmt = rewrite_time_format(text(T_FMT, loc));
  out.t_fmt_ampm = rewrite_time_format(text(T_FMT_AMPM, loc));
  out.era_d_fmt = rewrite_time_format(text(ERA_D_FMT, loc));
  out.era_t_fmt = rewrite_time_format(text(ERA_T_FMT, loc));
  out.era_d_t_fmt = rewrite_time_format(text(ERA_D_T_FMT, loc));
  out.am = text(AM_STR, loc);
  out.pm = text(PM_STR, loc);
  out.alt_digits = alternative_digits(loc);
}

}  // namespace

const CharmapChar *repertoire_char(const LocaleData &d, uint32_t ucs) {
  if (d.repertoire == Repertoire::unicode) {
    if (ucs > last_scalar || (ucs >= surrogate_first && ucs <= surrogate_last)) return nullptr;
    const uint32_t gap = ucs > surrogate_last ? surrogate_last - surrogate_first + 1 : 0;
    return &d.charmap.chars[ucs - gap];
  }
  auto it = d.charmap.by_ucs.find(ucs);
  return it == d.charmap.by_ucs.end() ? nullptr : &d.charmap.chars[it->second];
}

std::string rewrite_time_format(std::string_view f) {
  std::string out;
  for (std::size_t i = 0; i < f.size(); ++i) {
    if (f[i] != '%') {
      out += f[i];
      continue;
    }
    /* %[flags][width][E|O]letter */
    std::size_t j = i + 1;
    while (j < f.size() && std::strchr("_-0^#", f[j]) != nullptr)
      ++j;
    while (j < f.size() && f[j] >= '0' && f[j] <= '9')
      ++j;
    if (j < f.size() && (f[j] == 'E' || f[j] == 'O') && j + 1 < f.size()) ++j;
    if (j >= f.size()) { /* a lone % at the end stays as it is */
      out.append(f.substr(i));
      break;
    }
    std::string_view directive = f.substr(i, j - i + 1);
    switch (f[j]) {
      case 'Z':
      case 'z':
        if (!out.empty() && out.back() == ' ') out.pop_back();
        break;
      case 'T':
        out += "%H:%M:%S";
        break;
      case 'R':
        out += "%H:%M";
        break;
      case 'F':
        out += "%Y-%m-%d";
        break;
      case 'k':
        out += "%H";
        break;
      case 'l':
        out += "%I";
        break;
      case 'P':
        out += "%p";
        break;
      case 's':
      case 'G':
      case 'V':
      case 'U':
      case 'W':
      case '+':
        break;
      default:
        out.append(directive);
        break;
    }
    i = j;
  }
  return out;
}

bool extract_locale(const LocaleSource &src, const std::string &work_dir,
                    const std::string &dir_name, LocaleData &out, std::string *error) {
  out = LocaleData {};
  out.source = src.source;
  out.registry_name = src.registry_name;
  out.repertoire = src.repertoire;
  out.collation = src.collation;
  if (src.repertoire == Repertoire::unicode) {
    if (src.charmap != "UTF-8") {
      *error = "the Unicode repertoire goes with the charmap UTF-8, not " + src.charmap;
      return false;
    }
    unicode_repertoire(out.charmap);
  } else if (!read_charmap(charmap_path(src.charmap), out.charmap, error)) {
    return false;
  }

  fs::path loc_dir = fs::path(work_dir) / "loc";
  std::error_code ec;
  fs::create_directories(loc_dir, ec);
  if (ec) {
    *error = loc_dir.string() + ": " + ec.message();
    return false;
  }
  std::string log_path = (loc_dir / (dir_name + ".log")).string();
  int status = run_localedef(src, (loc_dir / dir_name).string(), log_path);
  /* Exit status 1 means warnings only when the locale then opens. */
  if (status != 0 && status != 1) {
    *error = "localedef -i " + src.source + " -f " + src.charmap + " failed (status " +
             std::to_string(status) + "), see " + log_path;
    return false;
  }
  if (setenv("LOCPATH", loc_dir.c_str(), 1) != 0) {
    *error = "cannot set LOCPATH";
    return false;
  }
  LocaleHandle handle;
  handle.loc = newlocale(LC_ALL_MASK, dir_name.c_str(), nullptr);
  if (handle.loc == nullptr) {
    *error = "newlocale cannot open " + (loc_dir / dir_name).string() + " (localedef status " +
             std::to_string(status) + ", see " + log_path + ")";
    return false;
  }
  std::string codeset = text(CODESET, handle.loc);
  if (codeset != out.charmap.name) {
    *error = "compiled locale has code set " + codeset + ", charmap says " + out.charmap.name;
    return false;
  }
  if (!check_charmap(out.charmap, handle.loc, error)) return false;

  out.provenance = {
      "GENERATOR=gls_gen_locales 2",
      "SOURCE_LOCALE=" + src.source,
      "CHARMAP=" + src.charmap,
      std::string("GLIBC_VERSION=") + gnu_get_libc_version(),
  };
  if (src.repertoire == Repertoire::unicode)
    out.provenance.emplace_back("REPERTOIRE=U+0000..U+10FFFF without surrogates");
  read_ctype(handle.loc, out);
  read_conventions(handle.loc, out);
  out.yes_expr = text(YESEXPR, handle.loc);
  out.no_expr = text(NOEXPR, handle.loc);
  out.yes_str = text(YESSTR, handle.loc);
  out.no_str = text(NOSTR, handle.loc);
  read_time(handle.loc, out);
  if (src.collation == Collation::weights && !read_collation(handle.loc, src, out, error))
    return false;
  return true;
}

}  // namespace glsgen
