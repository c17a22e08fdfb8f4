/*
** gls_gen_conversions - writes the conversion files the locale library
** ships (cv9/ of the tree that installs as $DOVARIZADIR/gls).
**
** Usage: gls_gen_conversions <gls directory>. Run by the build target
** regen-gls-data; its output is committed. A stateless pair is built from
** two of the system's charmaps (/usr/share/i18n/charmaps), paired by
** Unicode value: every character of the source charmap that the target
** charmap also defines gets an entry, the others none (they fail as the
** C library's iconv fails on them). Code set 933 has no charmap there; its
** pair with UTF-8 is enumerated through the C library's iconv ("CP933"):
** single bytes in the base state, double bytes between SO 0x0E and SI 0x0F.
** Each file is written (cvo_writer) to a temporary name, read back and
** compared, and only then put in place. Same system data, same bytes. Exit
** status 0, or 1 with a message on standard error.
*/
#include <gnu/libc-version.h>
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cvo_writer.h"
#include "locale_charmap.h"
#include "utf8_form.h"

namespace {

namespace fs = std::filesystem;
using glsgen::CvoData;
using glsgen::CvoEntry;
using glslib::utf8_of;

constexpr const char *charmap_dir = "/usr/share/i18n/charmaps";
constexpr const char *generator_line = "GENERATOR=gls_gen_conversions 1";
constexpr unsigned char shift_out = 0x0E; /* SO: into the double-byte state */
constexpr unsigned char shift_in = 0x0F; /* SI: back to single bytes */
constexpr uint32_t last_scalar = 0x10FFFF;

enum class Kind { charmaps, cp933_from_utf8, cp933_to_utf8 };

struct ShippedConversion {
  const char *path; /* relative to the gls directory */
  Kind kind;
  const char *source; /* charmap names (Kind::charmaps) */
  const char *target;
};

constexpr ShippedConversion shipped_conversions[] = {
    {"cv9/0333e01c.cvo", Kind::charmaps, "ISO-8859-1", "UTF-8"},
    {"cv9/e01c0333.cvo", Kind::charmaps, "UTF-8", "ISO-8859-1"},
    {"cv9/033304e4.cvo", Kind::charmaps, "ISO-8859-1", "CP1252"},
    {"cv9/04e40333.cvo", Kind::charmaps, "CP1252", "ISO-8859-1"},
    {"cv9/e006e01c.cvo", Kind::charmaps, "SHIFT_JIS", "UTF-8"},
    {"cv9/e01ce006.cvo", Kind::charmaps, "UTF-8", "SHIFT_JIS"},
    {"cv9/e007e01c.cvo", Kind::charmaps, "EUC-JP", "UTF-8"},
    {"cv9/e01ce007.cvo", Kind::charmaps, "UTF-8", "EUC-JP"},
    {"cv9/e01de01c.cvo", Kind::charmaps, "TIS-620", "UTF-8"},
    {"cv9/e01ce01d.cvo", Kind::charmaps, "UTF-8", "TIS-620"},
    {"cv9/03a5e01c.cvo", Kind::cp933_to_utf8, "CP933", "UTF-8"},
    {"cv9/e01c03a5.cvo", Kind::cp933_from_utf8, "UTF-8", "CP933"},
};

/* Each charmap read once. */
class Charmaps {
 public:
  const glsgen::Charmap *get(const std::string &name, std::string *error) {
    auto found = maps_.find(name);
    if (found != maps_.end()) return &found->second;
    glsgen::Charmap cm;
    if (!glsgen::read_charmap(std::string(charmap_dir) + "/" + name + ".gz", cm, error))
      return nullptr;
    return &maps_.emplace(name, std::move(cm)).first->second;
  }

 private:
  std::map<std::string, glsgen::Charmap> maps_;
};

/* Shortest and longest character of a charmap. */
std::pair<int, int> length_range(const glsgen::Charmap &cm) {
  int lo = 4;
  int hi = 1;
  for (const glsgen::CharmapChar &c : cm.chars) {
    lo = std::min(lo, static_cast<int>(c.bytes.size()));
    hi = std::max(hi, static_cast<int>(c.bytes.size()));
  }
  return {lo, hi};
}

std::vector<std::string> provenance(const char *source, const char *target, const char *how) {
  return {generator_line, std::string("SOURCE=") + how + " " + source,
          std::string("TARGET=") + how + " " + target,
          std::string("GLIBC_VERSION=") + gnu_get_libc_version()};
}

/* Flags of an ordinary entry for a source character: the NUL ends a
** string. */
unsigned char plain_flags(const std::vector<unsigned char> &key) {
  bool nul = key.size() == 1 && key[0] == 0;
  return static_cast<unsigned char>(GL_CV_CONVERTS | (nul ? GL_CV_END : 0));
}

bool build_from_charmaps(const ShippedConversion &c, Charmaps &maps, CvoData &d,
                         std::string *error) {
  const glsgen::Charmap *source = maps.get(c.source, error);
  const glsgen::Charmap *target = source != nullptr ? maps.get(c.target, error) : nullptr;
  if (target == nullptr) return false;
  d.provenance = provenance(c.source, c.target, "charmap");
  std::tie(d.source_min, d.source_max) = length_range(*source);
  std::tie(d.target_min, d.target_max) = length_range(*target);
  for (const glsgen::CharmapChar &ch : source->chars) {
    auto found = target->by_ucs.find(ch.ucs);
    if (found == target->by_ucs.end()) continue;
    d.base.push_back(
        CvoEntry {ch.bytes, plain_flags(ch.bytes), target->chars[found->second].bytes});
  }
  return true;
}

class Iconv {
 public:
  Iconv(const char *to, const char *from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv &) = delete;
  Iconv &operator=(const Iconv &) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  /* in converted from the initial state and flushed back to it; false when
  ** the converter refuses it or leaves some of it unconverted. */
  bool convert(const std::vector<unsigned char> &in, std::vector<unsigned char> &out) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::vector<char> input(in.begin(), in.end());
    char buffer[32];
    char *ip = input.data();
    std::size_t il = input.size();
    char *op = buffer;
    std::size_t ol = sizeof buffer;
    if (iconv(cd_, &ip, &il, &op, &ol) == static_cast<std::size_t>(-1) || il != 0) return false;
    if (iconv(cd_, nullptr, nullptr, &op, &ol) == static_cast<std::size_t>(-1)) return false;
    out.assign(buffer, op);
    return true;
  }

 private:
  iconv_t cd_;
};

/* UTF-8 to 933: every scalar value the C library converts, a single byte
** in the base state or SO, two bytes, SI (the pair kept, shifted). */
bool build_from_utf8_to_933(const ShippedConversion &c, CvoData &d, std::string *error) {
  Iconv cd("CP933", "UTF-8");
  if (!cd.ok()) {
    *error = "the C library has no CP933 converter";
    return false;
  }
  d.provenance = provenance(c.source, c.target, "iconv");
  d.target_shift = 1;
  d.sequences[0] = {shift_out};
  d.sequences[1] = {shift_in};
  d.target_min = 1;
  d.target_max = 2;
  d.source_min = 1;
  d.source_max = 4;
  std::vector<unsigned char> out;
  for (uint32_t ucs = 0; ucs <= last_scalar; ++ucs) {
    if (ucs >= 0xD800 && ucs <= 0xDFFF) continue;
    std::vector<unsigned char> key = utf8_of(ucs);
    if (!cd.convert(key, out) || out.empty()) continue;
    if (out.size() == 1 && out[0] != shift_out && out[0] != shift_in) {
      d.base.push_back(CvoEntry {key, plain_flags(key), out});
    } else if (out.size() == 4 && out[0] == shift_out && out[3] == shift_in) {
      d.base.push_back(CvoEntry {
          key, static_cast<unsigned char>(GL_CV_CONVERTS | GL_CV_SHIFTED), {out[1], out[2]}});
    } else {
      *error = "unexpected CP933 form of U+" + std::to_string(ucs);
      return false;
    }
  }
  return true;
}

/* 933 to UTF-8: the single bytes in the base table, SO toggling into the
** shifted-source table of the byte pairs, where SI toggles back. */
bool build_from_933_to_utf8(const ShippedConversion &c, Charmaps &maps, CvoData &d,
                            std::string *error) {
  const glsgen::Charmap *utf8 = maps.get(c.target, error);
  if (utf8 == nullptr) return false;
  Iconv cd("UTF-8", "CP933");
  if (!cd.ok()) {
    *error = "the C library has no CP933 converter";
    return false;
  }
  d.provenance = provenance(c.source, c.target, "iconv");
  d.source_shift = 1;
  std::tie(d.target_min, d.target_max) = length_range(*utf8);
  d.source_min = 1;
  d.source_max = 2;
  std::vector<unsigned char> out;
  for (unsigned b = 0; b < 256; ++b) {
    std::vector<unsigned char> key {static_cast<unsigned char>(b)};
    if (b == shift_out) {
      d.base.push_back(CvoEntry {key, GL_CV_TOGGLE, {}});
    } else if (b != shift_in && cd.convert(key, out) && !out.empty()) {
      d.base.push_back(CvoEntry {key, plain_flags(key), out});
    }
  }
  for (unsigned b1 = 0; b1 < 256; ++b1) {
    if (b1 == shift_in) {
      d.shifted.push_back(CvoEntry {{shift_in}, GL_CV_TOGGLE, {}});
      continue;
    }
    for (unsigned b2 = 0; b2 < 256; ++b2) {
      std::vector<unsigned char> pair {static_cast<unsigned char>(b1),
                                       static_cast<unsigned char>(b2)};
      if (cd.convert({shift_out, pair[0], pair[1], shift_in}, out) && !out.empty())
        d.shifted.push_back(CvoEntry {pair, GL_CV_CONVERTS, out});
    }
  }
  return true;
}

/* The entries of one shipped file; false with a message in *error. */
bool build(const ShippedConversion &c, Charmaps &maps, CvoData &d, std::string *error) {
  bool ok = false;
  switch (c.kind) {
    case Kind::charmaps:
      ok = build_from_charmaps(c, maps, d, error);
      break;
    case Kind::cp933_from_utf8:
      ok = build_from_utf8_to_933(c, d, error);
      break;
    case Kind::cp933_to_utf8:
      ok = build_from_933_to_utf8(c, maps, d, error);
      break;
  }
  d.factor = glsgen::expansion_factor(d);
  return ok;
}

/* Writes the file under a temporary name, reads it back and puts it in
** place; false (and nothing left behind) with a message on stderr. */
bool generate(const fs::path &root, const ShippedConversion &c, Charmaps &maps) {
  const fs::path target = root / c.path;
  fs::path temporary = target;
  temporary += ".tmp";
  CvoData d;
  std::string error;
  std::error_code ec;
  bool ok = build(c, maps, d, &error);
  if (ok) {
    fs::create_directories(target.parent_path(), ec);
    FILE *fp = ec ? nullptr : std::fopen(temporary.c_str(), "w");
    if (fp == nullptr) {
      error = "cannot write " + temporary.string();
      ok = false;
    } else {
      ok = glsgen::write_cvo(fp, d, &error);
      ok = std::fclose(fp) == 0 && ok;
    }
  }
  if (ok) ok = glsgen::check_cvo(temporary.string(), d, &error);
  if (ok) {
    fs::rename(temporary, target, ec);
    if (ec) error = ec.message();
    ok = !ec;
  }
  if (!ok) {
    std::fprintf(stderr, "gls_gen_conversions: %s: %s\n", target.c_str(), error.c_str());
    fs::remove(temporary, ec);
  }
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2 || argv[1][0] == '\0') {
    std::fprintf(stderr, "usage: gls_gen_conversions <gls directory>\n");
    return 1;
  }
  Charmaps maps;
  for (const ShippedConversion &c : shipped_conversions) {
    if (!generate(argv[1], c, maps)) return 1;
  }
  return 0;
}
