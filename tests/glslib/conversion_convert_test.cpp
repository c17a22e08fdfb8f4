/*
** Converting through toy conversion files: the end entry of a string
** without length, output room, characters without conversion, cut
** characters and the input length, lossy entries, measuring, the choice
** of converter and the fast map, the host-order two-byte converters, and
** the stateful converter's shift sequences, end flush, reset and chunks.
*/
#include "conversion_internal.h"
#include "cvo_builder.h"
#include "error_word.h"
#include "lco_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using cvotest::Bytes;
using cvotest::Cvo;
using cvotest::DescPtr;
using cvotest::to;

namespace {

/* What one call did. */
struct Result {
  int rc = 0;
  int err = 0;
  Bytes out;
  int consumed = 0; /* input bytes taken */
  int inleft = 0; /* the count left (counted calls) */
  int room = 0; /* output room left */
  int lossy = 0;
};

/* Converts input (counted unless terminated) into room bytes. The input
** sits in a block of exactly its size, so a read past it is caught. */
Result run(gl_cv_desc *cd, const Bytes &input, int room, bool terminated = false,
           gl_cv_state *state = nullptr, bool measure = false) {
  std::vector<unsigned char> in(input);
  in.reserve(1); /* an empty input still has an address */
  std::vector<unsigned char> out(static_cast<std::size_t>(room) + 1, 0xEE);
  const unsigned char *p = in.data();
  unsigned char *o = measure ? nullptr : out.data();
  Result r;
  r.inleft = static_cast<int>(in.size());
  r.room = room;
  cd->err = 0;
  r.rc = state != nullptr || measure
             ? gl_cv_mconv(cd, state, &p, terminated ? nullptr : &r.inleft, &o, &r.room, &r.lossy)
             : gl_miconv(cd, &p, terminated ? nullptr : &r.inleft, &o, &r.room, &r.lossy);
  r.err = cd->err;
  r.consumed = static_cast<int>(p - in.data());
  if (!measure) r.out.assign(out.data(), o);
  EXPECT_EQ(out[static_cast<std::size_t>(room)], 0xEE) << "wrote past the room";
  return r;
}

Bytes bytes(const std::string &text) { return Bytes(text.begin(), text.end()); }

class Converting : public ::testing::Test {
 protected:
  /* Writes file as name (by default the pair 8859-1 -> utf8) and loads it
  ** from the directory. */
  DescPtr load(const Cvo &file, const char *target = "en_US.utf8", const char *source = "en_US.819",
               const char *name = "0333e01c.cvo") {
    scene.write(name, file.text());
    gl_cv_desc *cd = nullptr;
    EXPECT_EQ(gl_cv_load(&cd, target, source, nullptr, scene.dir().path().c_str()), 1);
    return DescPtr(cd);
  }
  lcotest::Scene scene;
};

/* Single bytes to one or two bytes: a, b, c and e-acute, the NUL the end. */
Cvo latin_to_two_byte() {
  Cvo file;
  file.target_max = 2;
  file.factor = "2";
  file.base[{0x00}] = to({0x00}, GL_CV_END);
  file.base[{'a'}] = to({'A'});
  file.base[{'b'}] = to({'B'});
  file.base[{'c'}] = to({'C'});
  file.base[{0xe9}] = to({0xc3, 0xa9});
  file.base[{'q'}] = cvotest::none();
  file.base[{'~'}] = to({'-'}, GL_CV_LOSSY);
  return file;
}

/* Two-byte source characters (lead byte 0x81) to single bytes. */
Cvo two_byte_to_latin() {
  Cvo file;
  file.source_max = 2;
  file.base[{0x00}] = to({0x00}, GL_CV_END);
  file.base[{'a'}] = to({'a'});
  file.base[{0x81, 0x40}] = to({'X'});
  file.base[{0x81, 0x41}] = to({'Y'});
  return file;
}

TEST_F(Converting, WithoutLengthTheEndEntryIsConvertedAndEndsTheString) {
  DescPtr mb = load(latin_to_two_byte());
  Cvo sb_file = cvotest::complete_single_byte();
  DescPtr sb = load(sb_file, "en_US.cp1252", "en_US.819", "033304e4.cvo");
  EXPECT_EQ(mb->converter, mb_miconv);
  EXPECT_EQ(sb->converter, sb_miconv);
  for (gl_cv_desc *cd : {mb.get(), sb.get()}) {
    Result r = run(cd, {'a', 'b', 0, 'c', 0}, 10, true);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.consumed, 3);
    EXPECT_EQ(r.out, Bytes({'A', 'B', 0}));
    EXPECT_EQ(r.room, 7);
    /* Counted, the NUL is one character among others. */
    r = run(cd, {'a', 0, 'c'}, 10);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out, Bytes({'A', 0, 'C'}));
    EXPECT_EQ(r.inleft, 0);
  }
}

TEST_F(Converting, ExactRoomSucceedsAndOneByteLessStopsAtTheCharacter) {
  DescPtr cd = load(latin_to_two_byte());
  const Bytes input = {'a', 0xe9, 'b'};
  Result r = run(cd.get(), input, 4);
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.out, Bytes({'A', 0xc3, 0xa9, 'B'}));
  EXPECT_EQ(r.room, 0);
  r = run(cd.get(), input, 3);
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(r.err, GL_E2BIG);
  EXPECT_EQ(r.out, Bytes({'A', 0xc3, 0xa9}));
  EXPECT_EQ(r.consumed, 2);
  EXPECT_EQ(r.inleft, 1);
  r = run(cd.get(), input, 2);
  EXPECT_EQ(r.err, GL_E2BIG);
  EXPECT_EQ(r.consumed, 1); /* at the two-byte character that did not fit */
  EXPECT_EQ(r.room, 1);
}

TEST_F(Converting, FailuresStopAtTheCharacterWithTheirError) {
  DescPtr latin = load(latin_to_two_byte());
  DescPtr dbcs = load(two_byte_to_latin(), "en_US.819", "en_US.utf8", "e01c0333.cvo");
  struct Case {
    const char *name;
    gl_cv_desc *cd;
    Bytes input;
    int error;
    int consumed;
    Bytes out;
  };
  const Case cases[] = {
      {"entry without flags", latin.get(), {'a', 'q', 'b'}, GL_EILSEQ, 1, {'A'}},
      {"character not in the table", latin.get(), {'a', 'z'}, GL_EILSEQ, 1, {'A'}},
      {"two-byte character not in the table", dbcs.get(), {'a', 0x81, 0x7f}, GL_EILSEQ, 1, {'a'}},
      {"lead byte alone", dbcs.get(), {0x90, 'a'}, GL_EILSEQ, 0, {}},
      /* The input length cuts the last character: its second byte is
      ** never read. */
      {"character cut by the length",
       dbcs.get(),
       {'a', 0x81, 0x40, 0x81},
       GL_EINVAL,
       3,
       {'a', 'X'}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Result r = run(c.cd, c.input, 16);
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.err, c.error);
    EXPECT_EQ(r.consumed, c.consumed);
    EXPECT_EQ(r.inleft, static_cast<int>(c.input.size()) - c.consumed);
    EXPECT_EQ(r.out, c.out);
  }
}

TEST_F(Converting, LossyEntrySetsTheFlagAndNoOutputMeasures) {
  DescPtr cd = load(latin_to_two_byte());
  Result r = run(cd.get(), {'a', 'b'}, 8);
  EXPECT_EQ(r.lossy, 0);
  r = run(cd.get(), {'a', '~', 'b'}, 8);
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.lossy, 1);
  EXPECT_EQ(r.out, Bytes({'A', '-', 'B'}));
  r = run(cd.get(), {'a', 0xe9, 0xe9}, 100, false, nullptr, true);
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.room, 95);
  EXPECT_EQ(r.inleft, 0);
  const unsigned char in[] = {'a', 0xe9};
  const unsigned char *p = in;
  int inleft = 2, room = 100, lossy = 0;
  EXPECT_EQ(gl_mconvlen(cd.get(), nullptr, &p, &inleft, &room, &lossy), 0);
  EXPECT_EQ(room, 97);
}

TEST_F(Converting, CompleteSingleBytePairGetsAFastMapEqualToItsConverter) {
  DescPtr cd = load(cvotest::complete_single_byte(), "en_US.cp1252", "en_US.819", "033304e4.cvo");
  ASSERT_EQ(cd->converter, sb_miconv);
  ASSERT_NE(cd->fast_map, nullptr);
  for (int b = 0; b < 256; ++b) {
    const unsigned char in = static_cast<unsigned char>(b);
    const unsigned char *p = &in;
    unsigned char out = 0;
    unsigned char *o = &out;
    int inleft = 1, room = 1, lossy = 0;
    ASSERT_EQ(sb_miconv(cd.get(), &p, &inleft, &o, &room, &lossy), 0) << b;
    EXPECT_EQ(cd->fast_map[b], out) << b;
  }
  EXPECT_EQ(cd->fast_map['q'], 'Q');
}

TEST_F(Converting, UnloadingLeavesTheFastMapToItsTaker) {
  glstest::FailingAllocator count;
  gl_cv_desc *cd =
      load(cvotest::complete_single_byte(), "en_US.cp1252", "en_US.819", "033304e4.cvo").release();
  unsigned char *map = cd->fast_map;
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(gl_cv_unload(cd), 0);
  EXPECT_EQ(count.outstanding(), 1);
  _gl_free_ptr(map);
  EXPECT_EQ(count.outstanding(), 0);
}

TEST_F(Converting, FastMapOnlyWhenEveryByteConverts) {
  Cvo gap = cvotest::complete_single_byte();
  gap.base[{0x81}] = cvotest::none();
  Cvo refused = cvotest::complete_single_byte();
  refused.nofastmap = 1;
  for (const Cvo &file : {gap, refused}) {
    DescPtr cd = load(file, "en_US.cp1252", "en_US.819", "033304e4.cvo");
    EXPECT_EQ(cd->converter, sb_miconv);
    EXPECT_EQ(cd->fast_map, nullptr);
    Result r = run(cd.get(), {'a', 'b'}, 2);
    EXPECT_EQ(r.out, Bytes({'A', 'B'}));
  }
  DescPtr cd = load(gap, "en_US.cp1252", "en_US.819", "033304e4.cvo");
  Result r = run(cd.get(), {'a', 0x81}, 2);
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(r.err, GL_EILSEQ);
  EXPECT_EQ(r.consumed, 1);
}

TEST_F(Converting, ConverterFollowsTheLengthsAndShifts) {
  struct Case {
    int source_min, source_max, target_min, target_max, source_shift, target_shift;
    gl_cv_converter expected;
  };
  const Case cases[] = {
      {1, 1, 1, 1, 0, 0, sb_miconv},
      {1, 2, 1, 1, 0, 0, mb_miconv},
      {1, 1, 1, 2, 0, 0, mb_miconv},
      {1, 1, 1, 1, 0, 1, mb_miconv},
      {2, 2, 1, 1, 0, 0, little_endian_unicode_source_miconv},
      {2, 2, 2, 2, 0, 0, little_endian_unicode_source_miconv},
      {2, 2, 1, 1, 1, 0, mb_miconv},
      {1, 1, 2, 2, 0, 0, little_endian_unicode_target_miconv},
      {1, 1, 2, 2, 0, 1, mb_miconv},
  };
  for (const Case &c : cases) {
    Cvo file;
    file.source_min = c.source_min;
    file.source_max = c.source_max;
    file.target_min = c.target_min;
    file.target_max = c.target_max;
    file.source_shift = c.source_shift;
    file.target_shift = c.target_shift;
    file.base[{'a'}] = to({'a'});
    DescPtr cd = load(file);
    EXPECT_EQ(cd->converter, c.expected) << c.source_min << c.source_max << c.target_min
                                         << c.target_max << c.source_shift << c.target_shift;
  }
}

/* UCS-2 with the canned "unicode" code set: the file is keyed and filled
** big-endian; this host reads and writes the units low byte first. */
TEST_F(Converting, HostOrderTwoByteUnitsAreSwapped) {
  Cvo from_ucs2;
  from_ucs2.source_min = from_ucs2.source_max = 2;
  from_ucs2.base[{0x00, 0x00}] = to({0x00}, GL_CV_END);
  from_ucs2.base[{0x00, 0x41}] = to({'A'});
  from_ucs2.base[{0x00, 0xe9}] = to({0xe9});
  from_ucs2.base[{0x20, 0xac}] = to({0x80});
  DescPtr in = load(from_ucs2, "en_US.819", "en_US.unicode", "e0050333.cvo");
  ASSERT_EQ(in->converter, little_endian_unicode_source_miconv);
  Result r = run(in.get(), {0x41, 0x00, 0xac, 0x20, 0xe9, 0x00}, 8);
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.out, Bytes({'A', 0x80, 0xe9}));
  r = run(in.get(), {0x41, 0x00, 0x00, 0x00, 0x42, 0x00}, 8, true);
  EXPECT_EQ(r.out, Bytes({'A', 0x00}));
  EXPECT_EQ(r.consumed, 4);
  /* Units whose high byte leads nowhere, a unit without entry, half a unit. */
  r = run(in.get(), {0x41, 0x00, 0x41, 0x30}, 8);
  EXPECT_EQ(r.err, GL_EILSEQ);
  EXPECT_EQ(r.consumed, 2);
  r = run(in.get(), {0x42, 0x00}, 8);
  EXPECT_EQ(r.err, GL_EILSEQ);
  r = run(in.get(), {0x41, 0x00, 0x41}, 8);
  EXPECT_EQ(r.err, GL_EINVAL);
  EXPECT_EQ(r.consumed, 2);
  const unsigned char unit[2] = {0x41, 0x30};
  glstest::ErrorWord word;
  EXPECT_EQ(_gl_retrieve_little_endian_unicode_limit(unit, in->base_table, 2, word.record()),
            nullptr);
  EXPECT_EQ(word.err, GL_EILSEQ);

  Cvo to_ucs2;
  to_ucs2.target_min = to_ucs2.target_max = 2;
  to_ucs2.base[{0x00}] = to({0x00, 0x00}, GL_CV_END);
  to_ucs2.base[{'A'}] = to({0x00, 0x41});
  to_ucs2.base[{0x80}] = to({0x20, 0xac});
  DescPtr out = load(to_ucs2, "en_US.unicode", "en_US.819", "0333e005.cvo");
  ASSERT_EQ(out->converter, little_endian_unicode_target_miconv);
  r = run(out.get(), {'A', 0x80}, 4);
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.out, Bytes({0x41, 0x00, 0xac, 0x20}));
  r = run(out.get(), {'A', 0x80}, 3);
  EXPECT_EQ(r.err, GL_E2BIG);
  EXPECT_EQ(r.out, Bytes({0x41, 0x00}));
  EXPECT_EQ(r.consumed, 1);
}

/* Base characters a and b, shifted ones X and Y (two bytes in the target's
** shifted state); SO 0E enters, SI 0F leaves. */
Cvo shifting_target() {
  Cvo file;
  file.target_shift = 1;
  file.target_max = 2;
  file.sequences = {Bytes {0x0e}, {0x0f}, {}, {}};
  file.base[{0x00}] = to({0x00}, GL_CV_END);
  file.base[{'a'}] = to({'a'});
  file.base[{'b'}] = to({'b'});
  file.base[{'X'}] = to({0x81, 0x82}, GL_CV_SHIFTED);
  file.base[{'Y'}] = to({0x83, 0x84}, GL_CV_SHIFTED);
  return file;
}

TEST_F(Converting, ShiftSequencesMarkTheTargetStateChanges) {
  DescPtr cd = load(shifting_target());
  struct Case {
    const char *input;
    int end_flush;
    Bytes out;
    int target_shifted;
  };
  const Case cases[] = {
      {"aXYb", 0, {'a', 0x0e, 0x81, 0x82, 0x83, 0x84, 0x0f, 'b'}, 0},
      {"aX", 1, {'a', 0x0e, 0x81, 0x82, 0x0f}, 0},
      {"aX", 0, {'a', 0x0e, 0x81, 0x82}, 1},
      {"XaY", 1, {0x0e, 0x81, 0x82, 0x0f, 'a', 0x0e, 0x83, 0x84, 0x0f}, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.input);
    gl_cv_state state {0, c.end_flush, 0, 0};
    Result r = run(cd.get(), bytes(c.input), 32, false, &state);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(state.target_shifted, c.target_shifted);
  }
  /* gl_miconv starts afresh and ends in the base state. */
  Result r = run(cd.get(), bytes("aX"), 32);
  EXPECT_EQ(r.out, Bytes({'a', 0x0e, 0x81, 0x82, 0x0f}));
  /* Without a length, the NUL is the last character: the output returns to
  ** the base state before it. */
  r = run(cd.get(), {'X', 0, 'a'}, 32, true);
  EXPECT_EQ(r.out, Bytes({0x0e, 0x81, 0x82, 0x0f, 0x00}));
}

TEST_F(Converting, StateCarriesAcrossCallsAndResetClearsIt) {
  DescPtr cd = load(shifting_target());
  gl_cv_state state {0, 0, 0, 0};
  Result r = run(cd.get(), bytes("aX"), 32, false, &state);
  EXPECT_EQ(state.target_shifted, 1);
  r = run(cd.get(), bytes("Yb"), 32, false, &state);
  EXPECT_EQ(r.out, Bytes({0x83, 0x84, 0x0f, 'b'}));
  /* The reset word clears both shift words first. */
  state = {1, 0, 1, 1};
  r = run(cd.get(), bytes("a"), 32, false, &state);
  EXPECT_EQ(r.out, Bytes({'a'}));
  EXPECT_EQ(state.source_shifted, 0);
  EXPECT_EQ(state.target_shifted, 0);
  state = {0, 0, 0, 1};
  r = run(cd.get(), bytes("a"), 32, false, &state);
  EXPECT_EQ(r.out, Bytes({0x0f, 'a'}));
  /* After an end flush the next call announces the shifted state again. */
  state = {0, 1, 0, 0};
  r = run(cd.get(), bytes("X"), 32, false, &state);
  r = run(cd.get(), bytes("Y"), 32, false, &state);
  EXPECT_EQ(r.out, Bytes({0x0e, 0x83, 0x84, 0x0f}));
}

TEST_F(Converting, CharacterThatDoesNotFitLeavesTheStateForTheRetry) {
  DescPtr cd = load(shifting_target());
  gl_cv_state state {0, 1, 0, 0};
  /* a, then SO and X need three bytes where two are left. */
  Result r = run(cd.get(), bytes("aXb"), 3, false, &state);
  EXPECT_EQ(r.rc, -1);
  EXPECT_EQ(r.err, GL_E2BIG);
  EXPECT_EQ(r.consumed, 1);
  EXPECT_EQ(state.target_shifted, 0);
  r = run(cd.get(), bytes("Xb"), 32, false, &state);
  EXPECT_EQ(r.out, Bytes({0x0e, 0x81, 0x82, 0x0f, 'b'}));
  /* The end flush counts in the room too. */
  state = {0, 1, 0, 0};
  r = run(cd.get(), bytes("X"), 3, false, &state);
  EXPECT_EQ(r.err, GL_E2BIG);
  EXPECT_EQ(r.out, Bytes {});
}

/* A source that shifts: SO 0E and SI 0F toggle between the base table and
** the shifted-source table holding the two-byte characters. */
Cvo shifting_source() {
  Cvo file;
  file.source_shift = 1;
  file.source_max = 2;
  file.base[{0x00}] = to({0x00}, GL_CV_END);
  file.base[{'a'}] = to({'a'});
  file.base[{0x0e}] = to({}, GL_CV_TOGGLE);
  file.shifted[{0x0f}] = to({}, GL_CV_TOGGLE);
  file.shifted[{0x81, 0x40}] = to({'X'});
  file.shifted[{0x81, 0x41}] = to({'Y'});
  return file;
}

TEST_F(Converting, ShiftedSourceConvertsTheSameInChunks) {
  DescPtr cd = load(shifting_source());
  const Bytes input = {'a', 0x0e, 0x81, 0x40, 0x81, 0x41, 0x0f, 'a', 0x0e, 0x81, 0x40, 0x0f};
  const Bytes expected = {'a', 'X', 'Y', 'a', 'X'};
  Result whole = run(cd.get(), input, 32);
  EXPECT_EQ(whole.rc, 0);
  EXPECT_EQ(whole.out, expected);
  /* A 0x81 0x40 outside the shifted state is no character. */
  EXPECT_EQ(run(cd.get(), {'a', 0x81, 0x40}, 32).err, GL_EILSEQ);
  for (std::size_t cut = 0; cut <= input.size(); ++cut) {
    SCOPED_TRACE(cut);
    gl_cv_state state {0, 0, 0, 0};
    Bytes first(input.begin(), input.begin() + static_cast<long>(cut));
    Result a = run(cd.get(), first, 32, false, &state);
    /* A character cut by the chunk's end waits for the next chunk. */
    Bytes rest(input.begin() + a.consumed, input.end());
    if (a.rc != 0) {
      EXPECT_EQ(a.err, GL_EINVAL);
    }
    Result b = run(cd.get(), rest, 32, false, &state);
    EXPECT_EQ(b.rc, 0);
    Bytes joined = a.out;
    joined.insert(joined.end(), b.out.begin(), b.out.end());
    EXPECT_EQ(joined, expected);
  }
}

TEST_F(Converting, StandInsAndBadArgumentsConvertNothing) {
  const unsigned char in[] = {'a'};
  const unsigned char *p = in;
  int inleft = 1, room = 4, lossy = 0;
  unsigned char out[4];
  unsigned char *o = out;
  for (gl_cv_desc *cd : {&cd_enomem, &cd_fileerr, &cd_einval}) {
    const int before = cd->err;
    EXPECT_EQ(gl_miconv(cd, &p, &inleft, &o, &room, &lossy), -1);
    EXPECT_EQ(cd->err, before);
  }
  DescPtr cd = load(latin_to_two_byte());
  EXPECT_EQ(gl_miconv(cd.get(), nullptr, &inleft, &o, &room, &lossy), -1);
  EXPECT_EQ(cd->err, GL_ENULLPTR);
  EXPECT_EQ(gl_miconv(cd.get(), &p, &inleft, &o, nullptr, &lossy), -1);
  EXPECT_EQ(gl_miconv(nullptr, &p, &inleft, &o, &room, &lossy), -1);
}

}  // namespace
