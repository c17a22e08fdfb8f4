/*
** The shipped conversion files side by side with the C library's iconv:
** every file loads (from its directory and through the build tree's
** search), every character of each source code set converts as iconv
** converts it or fails where iconv fails, random strings agree, the
** stateful 933 pair agrees on texts cut into chunks at every position with
** the state kept between calls, and the generator writes the committed
** files byte for byte.
*/
#include <gnu/libc-version.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "cvo_builder.h"
#include "glslib.h"
#include "host_doubles.h"
#include "temp_dir.h"
#include "utf8_form.h"

namespace {

using cvotest::DescPtr;
using Bytes = std::vector<unsigned char>;
using glslib::utf8_of;

const std::string committed = GLS_SOURCE_DATA;
const std::string registry_file = committed + "/cm3/registry";
const std::string cv_directory = committed + "/cv9";

constexpr unsigned char shift_out = 0x0E;
constexpr unsigned char shift_in = 0x0F;

/* How the characters of a source code set are enumerated. */
enum class Source { single_byte, utf8, sjis, eucjp, cp933 };

struct Shipped {
  const char *file; /* under cv9/ */
  const char *source_spec;
  const char *target_spec;
  const char *source_iconv; /* the C library's names */
  const char *target_iconv;
  Source source;
  bool stateful;
};

constexpr Shipped shipped_files[] = {
    {"0333e01c.cvo", "en_US.819", "en_US.utf8", "ISO-8859-1", "UTF-8", Source::single_byte, false},
    {"e01c0333.cvo", "en_US.utf8", "en_US.819", "UTF-8", "ISO-8859-1", Source::utf8, false},
    {"033304e4.cvo", "en_US.819", "en_US.cp1252", "ISO-8859-1", "CP1252", Source::single_byte,
     false},
    {"04e40333.cvo", "en_US.cp1252", "en_US.819", "CP1252", "ISO-8859-1", Source::single_byte,
     false},
    {"e006e01c.cvo", "ja_JP.sjis", "en_US.utf8", "SHIFT_JIS", "UTF-8", Source::sjis, false},
    {"e01ce006.cvo", "en_US.utf8", "ja_JP.sjis", "UTF-8", "SHIFT_JIS", Source::utf8, false},
    {"e007e01c.cvo", "ja_JP.ujis", "en_US.utf8", "EUC-JP", "UTF-8", Source::eucjp, false},
    {"e01ce007.cvo", "en_US.utf8", "ja_JP.ujis", "UTF-8", "EUC-JP", Source::utf8, false},
    {"e01de01c.cvo", "th_TH.thai620", "en_US.utf8", "TIS-620", "UTF-8", Source::single_byte, false},
    {"e01ce01d.cvo", "en_US.utf8", "th_TH.thai620", "UTF-8", "TIS-620", Source::utf8, false},
    {"03a5e01c.cvo", "ko_KR.ccsid933", "en_US.utf8", "CP933", "UTF-8", Source::cp933, true},
    {"e01c03a5.cvo", "en_US.utf8", "ko_KR.csid933", "UTF-8", "CP933", Source::utf8, true},
};

/* Where the C library's converters go beyond the charmaps the stateless
** files are built from: it also encodes these characters, the files give
** them no entry (error 1). Its EUC-JP encoder refuses U+FFE0-FFE2 as the
** charmap does. */
struct KnownDifference {
  const char *target_iconv;
  uint32_t first;
  uint32_t last;
};
constexpr KnownDifference known_differences[] = {
    {"SHIFT_JIS", 0x005C, 0x005C}, {"SHIFT_JIS", 0x007E, 0x007E}, {"SHIFT_JIS", 0xFFE0, 0xFFE2},
    {"EUC-JP", 0x00A5, 0x00A5},    {"EUC-JP", 0x203E, 0x203E},
};
/* The tag characters: the C library writes nothing for them. */
constexpr uint32_t tags_first = 0xE0000;
constexpr uint32_t tags_last = 0xE007F;

bool known_difference(const Shipped &s, uint32_t ucs) {
  if (s.source != Source::utf8) return false;
  if (ucs >= tags_first && ucs <= tags_last) return true;
  return std::any_of(
      std::begin(known_differences), std::end(known_differences), [&](const KnownDifference &k) {
        return std::string(k.target_iconv) == s.target_iconv && ucs >= k.first && ucs <= k.last;
      });
}

std::string hex(const Bytes &b) {
  std::string s;
  char part[4];
  for (unsigned char c : b) {
    std::snprintf(part, sizeof part, "%02x ", c);
    s += part;
  }
  return s;
}

/* What one conversion of a whole input did. error: 0, 1 (no conversion)
** or 7 (a character cut by the end of the input); consumed: input bytes
** taken before it stopped. */
struct Outcome {
  int error = 0;
  std::size_t consumed = 0;
  Bytes out;
};

bool operator==(const Outcome &a, const Outcome &b) {
  return a.error == b.error && a.consumed == b.consumed && a.out == b.out;
}

std::ostream &operator<<(std::ostream &os, const Outcome &o) {
  return os << "{error " << o.error << ", consumed " << o.consumed << ", out " << hex(o.out) << "}";
}

/* The C library's converter, from its initial state, flushed at the end. */
class PeerIconv {
 public:
  PeerIconv(const char *to, const char *from) : cd_(iconv_open(to, from)) {}
  ~PeerIconv() {
    if (ok()) iconv_close(cd_);
  }
  PeerIconv(const PeerIconv &) = delete;
  PeerIconv &operator=(const PeerIconv &) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  Outcome convert(const Bytes &in) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::vector<char> input(in.begin(), in.end());
    std::vector<char> output(in.size() * 8 + 16);
    char *ip = input.data();
    std::size_t il = input.size();
    char *op = output.data();
    std::size_t ol = output.size();
    Outcome o;
    if (iconv(cd_, &ip, &il, &op, &ol) == static_cast<std::size_t>(-1)) {
      o.error = errno == EILSEQ ? GL_EILSEQ : errno == EINVAL ? GL_EINVAL : -errno;
    } else {
      iconv(cd_, nullptr, nullptr, &op, &ol);
    }
    o.consumed = in.size() - il;
    o.out.assign(output.data(), op);
    return o;
  }

 private:
  iconv_t cd_;
};

/* Ours through gl_miconv with the input's length (stateful descriptors
** start fresh and return to the base state at the end). */
Outcome convert(gl_cv_desc *cd, const Bytes &in) {
  Bytes output(in.size() * 8 + 16);
  const unsigned char *ip = in.data();
  int il = static_cast<int>(in.size());
  unsigned char *op = output.data();
  int ol = static_cast<int>(output.size());
  int lossy = 0;
  cd->err = 0;
  Outcome o;
  if (gl_miconv(cd, &ip, &il, &op, &ol, &lossy) != 0) o.error = cd->err != 0 ? cd->err : -1;
  o.consumed = in.size() - static_cast<std::size_t>(il);
  o.out.assign(output.data(), op);
  return o;
}

DescPtr load(const Shipped &s, int *rc) {
  gl_cv_desc *cd = nullptr;
  *rc = gl_cv_load(&cd, s.target_spec, s.source_spec, registry_file.c_str(), cv_directory.c_str());
  return DescPtr(cd);
}

/* One source character (or, where the code set allows, a byte string that
** is none) and, for UTF-8 sources, its scalar value. */
struct Input {
  Bytes bytes;
  uint32_t ucs = 0;
};

/* Every character of the source code set, and the byte strings around
** them that a lookup has to refuse: all single bytes, all two-byte strings
** with a high first byte, the three-byte EUC-JP strings of JIS X 0212,
** every scalar value of UTF-8, and the 933 double bytes between SO and SI. */
std::vector<Input> inputs_of(Source source) {
  std::vector<Input> list;
  auto add = [&](Bytes b, uint32_t ucs = 0) { list.push_back(Input {std::move(b), ucs}); };
  switch (source) {
    case Source::utf8:
      for (uint32_t ucs = 0; ucs <= 0x10FFFF; ++ucs)
        if (ucs < 0xD800 || ucs > 0xDFFF) add(utf8_of(ucs), ucs);
      break;
    case Source::cp933:
      for (unsigned b = 0; b < 256; ++b)
        if (b != shift_out && b != shift_in) add({static_cast<unsigned char>(b)});
      for (unsigned b1 = 0x40; b1 < 256; ++b1)
        for (unsigned b2 = 0x40; b2 < 256; ++b2)
          add({shift_out, static_cast<unsigned char>(b1), static_cast<unsigned char>(b2),
               shift_in});
      break;
    case Source::single_byte:
    case Source::sjis:
    case Source::eucjp:
      for (unsigned b = 0; b < 256; ++b)
        add({static_cast<unsigned char>(b)});
      if (source == Source::single_byte) break;
      for (unsigned b1 = 0x80; b1 < 256; ++b1)
        for (unsigned b2 = 0; b2 < 256; ++b2)
          add({static_cast<unsigned char>(b1), static_cast<unsigned char>(b2)});
      if (source == Source::eucjp)
        for (unsigned b1 = 0xA1; b1 < 0xFF; ++b1)
          for (unsigned b2 = 0xA1; b2 < 0xFF; ++b2)
            add({0x8F, static_cast<unsigned char>(b1), static_cast<unsigned char>(b2)});
      break;
  }
  return list;
}

class ShippedConversion : public ::testing::TestWithParam<std::size_t> {
 protected:
  const Shipped &shipped() const { return shipped_files[GetParam()]; }
};

TEST_P(ShippedConversion, LoadsFromItsDirectoryAndThroughTheBuildTree) {
  const Shipped &s = shipped();
  int rc = 0;
  DescPtr cd = load(s, &rc);
  ASSERT_EQ(rc, 1) << s.file;
  ASSERT_NE(cd, nullptr);
  EXPECT_EQ(cd->err, 0);
  EXPECT_NE(cd->base_table, nullptr);
  EXPECT_EQ(cd->shifted_table != nullptr, s.source == Source::cp933);
  EXPECT_EQ(cd->source_shift != 0 || cd->target_shift != 0, s.stateful);
  /* No map where a source byte has no single-byte target. */
  EXPECT_EQ(cd->fast_map, nullptr);
  if (cd->target_shift != 0) {
    EXPECT_EQ(cd->shift_len[0], 1);
    EXPECT_EQ(cd->shift_seq[0][0], shift_out);
    EXPECT_EQ(cd->shift_len[1], 1);
    EXPECT_EQ(cd->shift_seq[1][0], shift_in);
  }

  glstest::TableGetenv env({{"DOVARIZADIR", std::string(GLS_BUILD_DOVARIZADIR)}});
  gl_cv_desc *searched = nullptr;
  EXPECT_EQ(gl_cv_load(&searched, s.target_spec, s.source_spec, registry_file.c_str(), nullptr), 1);
  DescPtr keep(searched);
  ASSERT_NE(searched, nullptr);
  EXPECT_EQ(searched->err, 0);
}

/* Every input as the C library converts it: the same bytes, or a failure
** at the same byte (error 1 where it reports EILSEQ; 7, or 1 for a lead
** byte the charmap does not use, where it reports an incomplete
** character); the listed differences fail with error 1. */
TEST_P(ShippedConversion, EveryCharacterConvertsAsIconvConvertsIt) {
  const Shipped &s = shipped();
  int rc = 0;
  DescPtr cd = load(s, &rc);
  ASSERT_EQ(rc, 1);
  PeerIconv peer(s.target_iconv, s.source_iconv);
  ASSERT_TRUE(peer.ok());
  int converted = 0;
  int mismatches = 0;
  std::vector<uint32_t> differences;
  for (const Input &in : inputs_of(s.source)) {
    Outcome want = peer.convert(in.bytes);
    Outcome got = convert(cd.get(), in.bytes);
    if (known_difference(s, in.ucs) && want.error == 0) {
      EXPECT_EQ(got.error, GL_EILSEQ) << "U+" << std::hex << in.ucs;
      differences.push_back(in.ucs);
      continue;
    }
    /* A lead byte at the end of the input: iconv's code sets reserve
    ** more lead bytes than the charmaps use, so ours may refuse the byte
    ** itself (error 1) where iconv waits for more. */
    if (want.error == GL_EINVAL && got.error == GL_EILSEQ) got.error = GL_EINVAL;
    if (got == want) {
      converted += want.error == 0 ? 1 : 0;
      /* The expansion factor sizes the output of every character. */
      EXPECT_LE(got.out.size(), static_cast<std::size_t>(
                                    gl_cv_outbuflen(cd.get(), static_cast<int>(in.bytes.size()))));
      continue;
    }
    if (++mismatches <= 10)
      ADD_FAILURE() << s.file << " " << hex(in.bytes) << "ours " << got << " iconv " << want;
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(converted, 0);
  /* The list names nothing that agrees. */
  std::size_t listed = 0;
  if (s.source == Source::utf8) {
    listed = tags_last - tags_first + 1;
    for (const KnownDifference &k : known_differences)
      if (std::string(k.target_iconv) == s.target_iconv) listed += k.last - k.first + 1;
  }
  EXPECT_EQ(differences.size(), listed);
}

/* Random strings of the code set's characters, some without a target:
** the same output, or the same failure at the same character. */
TEST_P(ShippedConversion, RandomStringsConvertAsIconvConvertsThem) {
  const Shipped &s = shipped();
  int rc = 0;
  DescPtr cd = load(s, &rc);
  ASSERT_EQ(rc, 1);
  PeerIconv peer(s.target_iconv, s.source_iconv);
  ASSERT_TRUE(peer.ok());
  std::vector<Bytes> good;
  std::vector<Bytes> bad;
  for (const Input &in : inputs_of(s.source)) {
    if (known_difference(s, in.ucs)) continue;
    Outcome want = peer.convert(in.bytes);
    if (want.error == 0 && !want.out.empty()) {
      good.push_back(in.bytes);
    } else if (want.error == GL_EILSEQ && s.source == Source::utf8) {
      bad.push_back(in.bytes); /* whole characters without a target */
    }
  }
  ASSERT_FALSE(good.empty());
  std::mt19937 rng(20261210u + static_cast<unsigned>(GetParam()));
  for (int round = 0; round < 300; ++round) {
    Bytes text;
    const int length = 1 + static_cast<int>(rng() % 48);
    for (int i = 0; i < length; ++i) {
      const Bytes &ch =
          !bad.empty() && rng() % 64 == 0 ? bad[rng() % bad.size()] : good[rng() % good.size()];
      if (s.source == Source::cp933 && ch.size() == 4 && !text.empty() && text.back() == shift_in) {
        text.pop_back(); /* stay shifted between double bytes */
        text.insert(text.end(), ch.begin() + 1, ch.end());
      } else {
        text.insert(text.end(), ch.begin(), ch.end());
      }
    }
    Outcome want = peer.convert(text);
    Outcome got = convert(cd.get(), text);
    ASSERT_EQ(got, want) << s.file << " " << hex(text);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, ShippedConversion,
                         ::testing::Range(std::size_t {0}, std::size(shipped_files)),
                         [](const auto &info) {
                           std::string name = shipped_files[info.param].file;
                           return name.substr(0, 8);
                         });

/* Converts text in two calls cut at byte cut, the state kept between them
** and the end flush asked for in the second; a character cut in two is
** left by the first call (error 7) and handed to the second. */
Outcome convert_in_two(gl_cv_desc *cd, const Bytes &text, std::size_t cut) {
  gl_cv_state state {1, 0, 0, 0};
  Outcome o;
  Bytes output(text.size() * 8 + 16);
  unsigned char *op = output.data();
  int ol = static_cast<int>(output.size());
  int lossy = 0;
  const unsigned char *ip = text.data();
  int il = static_cast<int>(cut);
  cd->err = 0;
  if (gl_cv_mconv(cd, &state, &ip, &il, &op, &ol, &lossy) != 0 && cd->err != GL_EINVAL) {
    o.error = cd->err;
  } else {
    state.reset = 0;
    state.end_flush = 1;
    il = static_cast<int>(text.data() + text.size() - ip);
    cd->err = 0;
    if (gl_cv_mconv(cd, &state, &ip, &il, &op, &ol, &lossy) != 0) o.error = cd->err;
  }
  o.consumed = static_cast<std::size_t>(ip - text.data());
  o.out.assign(output.data(), op);
  return o;
}

/* The 933 pair on random Korean and Latin texts cut at every position:
** the two calls together write what iconv writes for the whole text after
** its final flush. */
TEST(ShippedStatefulConversion, ChunkedTextsEqualIconvAtEveryCut) {
  const Shipped &to_933 = shipped_files[std::size(shipped_files) - 1];
  const Shipped &from_933 = shipped_files[std::size(shipped_files) - 2];
  int rc = 0;
  DescPtr encode = load(to_933, &rc);
  ASSERT_EQ(rc, 1);
  DescPtr decode = load(from_933, &rc);
  ASSERT_EQ(rc, 1);
  PeerIconv peer_encode("CP933", "UTF-8");
  PeerIconv peer_decode("UTF-8", "CP933");
  ASSERT_TRUE(peer_encode.ok() && peer_decode.ok());

  /* Characters of both states: ASCII letters and digits, Hangul
  ** syllables, and what else 933 holds in the first planes. */
  std::vector<uint32_t> single;
  std::vector<uint32_t> pair;
  for (uint32_t ucs = 1; ucs < 0x10000; ++ucs) {
    if (ucs >= 0xD800 && ucs <= 0xDFFF) continue;
    Outcome o = peer_encode.convert(utf8_of(ucs));
    if (o.error != 0 || o.out.empty()) continue;
    (o.out.size() == 1 ? single : pair).push_back(ucs);
  }
  ASSERT_FALSE(single.empty());
  ASSERT_FALSE(pair.empty());

  std::mt19937 rng(933u);
  for (int round = 0; round < 40; ++round) {
    Bytes text;
    const int length = 2 + static_cast<int>(rng() % 24);
    for (int i = 0; i < length; ++i) {
      /* Runs of each kind, so that the states switch now and then. */
      const auto &from = (i / (1 + rng() % 3)) % 2 == 0 ? single : pair;
      Bytes ch = utf8_of(from[rng() % from.size()]);
      text.insert(text.end(), ch.begin(), ch.end());
    }
    Outcome encoded = peer_encode.convert(text);
    ASSERT_EQ(encoded.error, 0);
    const Bytes &cp933 = encoded.out;
    for (std::size_t cut = 1; cut < text.size(); ++cut) {
      Outcome got = convert_in_two(encode.get(), text, cut);
      ASSERT_EQ(got.error, 0) << "cut " << cut << " of " << hex(text);
      ASSERT_EQ(got.out, cp933) << "cut " << cut << " of " << hex(text);
    }
    /* Not always text again: 933 writes SUB for some characters. */
    Outcome decoded = peer_decode.convert(cp933);
    ASSERT_EQ(decoded.error, 0);
    for (std::size_t cut = 1; cut < cp933.size(); ++cut) {
      Outcome got = convert_in_two(decode.get(), cp933, cut);
      ASSERT_EQ(got.error, 0) << "cut " << cut << " of " << hex(cp933);
      ASSERT_EQ(got.out, decoded.out) << "cut " << cut << " of " << hex(cp933);
    }
  }
}

/* regen-gls-data's conversion step, run twice into fresh directories,
** writes exactly the committed files. */
TEST(ConversionGenerator, WritesTheCommittedFilesByteForByte) {
  std::string header = dvz_test::read_file(cv_directory + "/0333e01c.cvo");
  std::string version_line = std::string("GLIBC_VERSION=") + gnu_get_libc_version() + "\n";
  if (header.find(version_line) == std::string::npos) {
    GTEST_SKIP() << "the committed files come from another C library version";
  }
  std::string outputs[2];
  for (std::string &output : outputs) {
    dvz_test::TempDir gls;
    std::string cmd = std::string("'") + GLS_GEN_CONVERSIONS_PATH + "' '" + gls.path() + "'";
    int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << cmd;
    for (const Shipped &s : shipped_files) {
      std::string file = std::string("/cv9/") + s.file;
      std::string written = dvz_test::read_file(gls.path() + file);
      EXPECT_EQ(written, dvz_test::read_file(committed + file)) << file;
      output += written;
    }
  }
  EXPECT_EQ(outputs[0], outputs[1]);
}

}  // namespace
