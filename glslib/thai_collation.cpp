/*
** Thai collation of the single-byte Thai code set: a fixed comparer and
** key builder in place of weight tables.
**
** Callers: the loader installs them in the slots of a locale whose COLLATE
** kind is "thai_smo"; the wide comparer and key builder convert to bytes
** and call them. Calls: nothing but the error word.
**
** Two levels: first the text with each leading vowel moved behind the byte
** that follows it and tone marks left out, then the tone marks with their
** positions. Trailing blanks (0x20, 0xA0) count only between strings of
** equal length. The comparer runs one state machine over both strings;
** its mark lists and the key's two parts live in fixed areas, so long input
** is cut there (marks past the 512th are not kept, a key part stops at 255
** bytes) instead of overrunning them.
*/

#include <cstring>

#include "collation_internal.h"
#include "locale_internal.h"

using glslib::store_error;

namespace {

enum : unsigned char { class_other = 0, class_lead = 1, class_tone = 2 };

constexpr int max_marks = 512;
constexpr int max_key = 255;

/* One string in the comparer: its current byte c (0xA0 read as 0x20), the
** unread bytes including c, the position counter and the mark list. */
struct ThaiSide {
  const unsigned char *p;
  int r;
  int pos = 1;
  unsigned c = 0;
  unsigned char marks[2 * max_marks];
  int mark_bytes = 0;

  ThaiSide(const unsigned char *s, int len) : p(s), r(len) {
    if (r > 0) c = read(*p);
  }
  static unsigned read(unsigned char b) { return b == 0xA0 ? 0x20u : b; }
  void consume() {
    --r;
    ++p;
    c = r > 0 ? read(*p) : 0;
  }
  bool used_up() const { return r == 0; }
  void record() {
    if (mark_bytes >= 2 * max_marks) return;
    marks[mark_bytes++] = static_cast<unsigned char>(pos);
    marks[mark_bytes++] = static_cast<unsigned char>(c);
  }
};

/* Both strings move on by one byte. */
void step_both(ThaiSide &s1, ThaiSide &s2) {
  s1.consume();
  s2.consume();
  ++s1.pos;
  ++s2.pos;
}

int decide(unsigned x, unsigned y) { return x < y ? -1 : 1; }

/* Records and passes the tone mark at side s: true when s has no
** character left after it (the caller then decides). */
bool pass_tone(ThaiSide &s) {
  s.record();
  s.consume();
  if (s.used_up()) return true;
  ++s.pos;
  return false;
}

int compare_marks(const ThaiSide &a, const ThaiSide &b) {
  if (a.mark_bytes == 0) return b.mark_bytes == 0 ? 0 : -1;
  if (b.mark_bytes == 0) return 1;
  const int n = a.mark_bytes < b.mark_bytes ? a.mark_bytes : b.mark_bytes;
  for (int i = 0; i < n; ++i) {
    if (a.marks[i] != b.marks[i]) return a.marks[i] <= b.marks[i] ? -1 : 1;
  }
  if (a.mark_bytes == b.mark_bytes) return 0;
  return a.mark_bytes < b.mark_bytes ? -1 : 1;
}

enum class State { N, B1, B2, BB, A1, A2, X };

/* The state machine; returns true with *result set when a step decided. */
bool run_states(ThaiSide &s1, ThaiSide &s2, int *result) {
  State state = State::N;
  unsigned h = 0, e1 = 0, e2 = 0;
  auto done = [result](int r) {
    *result = r;
    return true;
  };
  /* Passes equal characters on both sides back to the start state;
  ** different ones decide. */
  auto pass_equal = [&]() {
    if (s1.c != s2.c) return done(decide(s1.c, s2.c));
    step_both(s1, s2);
    state = State::N;
    return false;
  };
  while (!s1.used_up() && !s2.used_up()) {
    const unsigned k1 = thai_cmp_table[s1.c], k2 = thai_cmp_table[s2.c];
    switch (state) {
      case State::N:
        if (k1 == class_other && k2 == class_other) {
          if (s1.c != s2.c) return done(decide(s1.c, s2.c));
          step_both(s1, s2);
        } else if (k1 == class_other && k2 == class_lead) {
          h = s2.c;
          s2.consume();
          if (s2.used_up()) return done(s1.c <= h ? -1 : 1);
          ++s2.pos;
          state = State::B2;
        } else if (k1 != class_tone && k2 == class_tone) {
          if (pass_tone(s2)) return done(1);
        } else if (k1 == class_lead && k2 == class_other) {
          h = s1.c;
          s1.consume();
          if (s1.used_up()) return done(s2.c <= h ? 1 : -1);
          ++s1.pos;
          state = State::B1;
        } else if (k1 == class_lead && k2 == class_lead) {
          e1 = s1.c;
          e2 = s2.c;
          s1.consume();
          s2.consume();
          if (s1.used_up()) {
            if (!s2.used_up()) return done(e1 != e2 ? decide(e1, e2) : -1);
            return done(e1 == e2 ? 0 : decide(e1, e2));
          }
          if (s2.used_up()) return done(e1 != e2 ? decide(e1, e2) : 1);
          ++s1.pos;
          ++s2.pos;
          state = State::BB;
        } else if (k1 == class_tone && k2 != class_tone) {
          if (pass_tone(s1)) return done(-1);
        } else {
          s1.record();
          s2.record();
          step_both(s1, s2);
        }
        break;
      case State::B2:
        if (s1.c != s2.c) return done(decide(s1.c, s2.c));
        s1.consume();
        if (s1.used_up()) return done(-1);
        ++s1.pos;
        s2.c = h;
        state = State::A2;
        break;
      case State::B1:
        if (s1.c != s2.c) return done(decide(s1.c, s2.c));
        s2.consume();
        if (s2.used_up()) return done(1);
        ++s2.pos;
        s1.c = h;
        state = State::A1;
        break;
      case State::BB:
        if (s1.c != s2.c) return done(decide(s1.c, s2.c));
        if (e1 != e2) return done(e1 <= e2 ? -1 : 1);
        step_both(s1, s2);
        state = State::N;
        break;
      case State::A2:
        if (k1 == class_lead) {
          h = s1.c;
          s1.consume();
          if (s1.used_up()) return done(h <= s2.c ? -1 : 1);
          ++s1.pos;
          state = State::X;
        } else if (k1 == class_tone) {
          if (pass_tone(s1)) return done(-1);
        } else if (pass_equal()) {
          return true;
        }
        break;
      case State::A1:
        if (k2 == class_lead) {
          h = s2.c;
          s2.consume();
          if (s2.used_up()) return done(h <= s1.c ? 1 : -1);
          ++s1.pos;
          state = State::X;
        } else if (k2 == class_tone) {
          if (pass_tone(s2)) return done(1);
        } else if (pass_equal()) {
          return true;
        }
        break;
      case State::X:
        if (pass_equal()) return true;
        break;
    }
  }
  return false;
}

/* Appends to a key part: kept up to 255 bytes, always counted. */
void put(thai_key_part *part, unsigned char b) {
  if (part->length < max_key) part->bytes[part->length] = b;
  ++part->length;
}

}  // namespace

extern "C" {

const unsigned char thai_cmp_table[256] = {
#define T0 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0
    T0,
    T0,
    T0,
    T0,
    T0,
    T0,
    T0,
    T0,
    T0,
    T0,
    T0,
    T0,
    T0,
    T0,
    /* 0xE0-0xEF */ 1,
    1,
    1,
    1,
    1,
    0,
    0,
    2,
    2,
    2,
    2,
    2,
    2,
    0,
    0,
    0,
    /* 0xF0-0xFF */ T0
#undef T0
};

const int32_t rgVowType[32] = {
    /* 0xD0-0xDF */ 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    /* 0xE0-0xEF */ 2, 2, 2, 2, 2, 1, 1, 3, 3, 3, 3, 3, 3, 3, 3, 1};

const unsigned char rgMap2Int[32] = {
    /* 0xD0-0xDF */ 0xD0,
    0x80,
    0xD1,
    0x81,
    0x82,
    0x83,
    0x84,
    0x85,
    0x86,
    0x87,
    0x88,
    0xDB,
    0xDC,
    0xDD,
    0xDE,
    0xDF,
    /* 0xE0-0xEF */ 0xE0,
    0xE1,
    0xE2,
    0xE3,
    0xE4,
    0xE5,
    0xE6,
    0x8E,
    0x8F,
    0x90,
    0x91,
    0x92,
    0x93,
    0x94,
    0x95,
    0xEF};

int isallspace(const unsigned char *p, int n) {
  for (int i = 0; i < n; ++i) {
    if (p[i] != 0x20 && p[i] != 0xA0) return 0;
  }
  return 1;
}

int bythcmpr(const unsigned char *s1, int len1, const unsigned char *s2, int len2) {
  if (len1 < 0) len1 = 0;
  if (len2 < 0) len2 = 0;
  if (len1 >= 1 && len2 >= 1) {
    const unsigned f1 = ThaiSide::read(s1[0]), f2 = ThaiSide::read(s2[0]);
    if (((len1 == 1 && thai_cmp_table[f1] == class_lead) ||
         (len2 == 1 && thai_cmp_table[f2] == class_lead)) &&
        f1 != f2)
      return decide(f1, f2);
  }
  ThaiSide a(s1, len1), b(s2, len2);
  int result = 0;
  if (len1 > 0 && len2 > 0 && run_states(a, b, &result)) return result;
  if (a.used_up() && !b.used_up()) {
    if (!isallspace(b.p, b.r)) return -1;
    return len1 == len2 ? 1 : 0;
  }
  if (b.used_up() && !a.used_up()) {
    if (!isallspace(a.p, a.r)) return 1;
    return len1 == len2 ? -1 : 0;
  }
  return compare_marks(a, b);
}

int _dvz_gl_thaismoncoll(gl_locale *loc, const unsigned char *s1, int len1, const unsigned char *s2,
                         int len2) {
  if (!glslib::collation_args_usable(loc, s1, len1, s2, len2)) return 0;
  if (len1 == -1) {
    len1 = static_cast<int>(std::strlen(reinterpret_cast<const char *>(s1)));
    len2 = static_cast<int>(std::strlen(reinterpret_cast<const char *>(s2)));
  }
  if (len1 < 0 || len2 < 0) {
    store_error(loc, GL_EBADARG);
    return 0;
  }
  return bythcmpr(s1, len1, s2, len2);
}

int _gl_thaismocoll(gl_locale *loc, const unsigned char *s1, const unsigned char *s2) {
  return _dvz_gl_thaismoncoll(loc, s1, -1, s2, -1);
}

int ChType(unsigned char c) { return c >= 0xD0 && c <= 0xEF ? rgVowType[c - 0xD0] : 1; }

int Ch2Int(unsigned char c) { return c >= 0xD0 && c <= 0xEF ? rgMap2Int[c - 0xD0] : c; }

void CchSortText(const unsigned char *s, thai_key_part *primary, thai_key_part *secondary) {
  primary->length = 0;
  secondary->length = 0;
  bool held = false;
  unsigned char vowel = 0;
  int counter = 1;
  for (const unsigned char *p = s; *p != 0; ++p) {
    const unsigned char b = *p;
    switch (ChType(b)) {
      case 3:
        put(secondary, static_cast<unsigned char>(counter));
        put(secondary, static_cast<unsigned char>(Ch2Int(b)));
        break;
      case 2:
        ++counter;
        if (held) {
          ++counter;
          put(primary, b);
          put(primary, static_cast<unsigned char>(Ch2Int(vowel)));
          held = false;
        } else {
          vowel = b;
          held = true;
        }
        break;
      default:
        ++counter;
        put(primary, b);
        if (held) {
          put(primary, static_cast<unsigned char>(Ch2Int(vowel)));
          held = false;
        }
        break;
    }
  }
  if (held) put(primary, static_cast<unsigned char>(Ch2Int(vowel)));
}

int thai_strxfrm(unsigned char *out, const unsigned char *s, int size) {
  thai_key_part primary, secondary;
  CchSortText(s, &primary, &secondary);
  if (out != nullptr && size > 0) {
    const int limit = size < max_key + 1 ? size : max_key + 1;
    unsigned char key[max_key + 1] = {};
    const int kept1 = primary.length < max_key ? primary.length : max_key;
    std::memcpy(key, primary.bytes, static_cast<std::size_t>(kept1));
    int kept2 = secondary.length < max_key ? secondary.length : max_key;
    if (kept1 + kept2 > max_key) kept2 = max_key - kept1;
    std::memcpy(key + kept1, secondary.bytes, static_cast<std::size_t>(kept2));
    std::memcpy(out, key, static_cast<std::size_t>(limit));
  }
  return primary.length + secondary.length;
}

int _gl_thaismoxfrm(gl_locale *loc, unsigned char *out, const unsigned char *s, int size) {
  if (loc == nullptr) return -1;
  if (s == nullptr) {
    store_error(loc, GL_ENULLPTR);
    return -1;
  }
  return thai_strxfrm(out, s, size);
}

}  // extern "C"
