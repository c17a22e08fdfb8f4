/*
** Code-set conversion: the converters and the choice among them.
**
** A character is looked up in the descriptor's base table (or, while a
** stateful source is shifted, its shifted-source table); the entry's first
** byte holds the target length and flags, the target bytes follow. An
** entry without flags is a character with no conversion (error 1); a
** character the table does not hold at all keeps the lookup's error (1,
** or 7 when the input length cuts it). The stateless converters are chosen
** at load: single byte to single byte indexes the root directly (and may
** get a 256-byte fast map), host-order two-byte units take the
** little-endian forms, everything else walks the table. The stateful
** converter writes the target's shift sequences as the target state
** changes and keeps the position in the caller's gl_cv_state.
** A counted conversion never looks at a byte past the input length. On
** failure the input and output stop at the character that failed.
** Callers: the client's conversion services. Calls: the multi-level table
** lookups, diagnostics, host services.
*/

#include "gl_conv.h"

#include <bit>

#include "conversion_internal.h"
#include "multilevel_internal.h"

namespace {

using namespace glslib::multi;

gl_locale *as_record(gl_cv_desc *cd) { return reinterpret_cast<gl_locale *>(cd); }
void set_error(gl_cv_desc *cd, int error) { *_gl_ext_errno(as_record(cd)) = error; }

constexpr bool host_is_little_endian = std::endian::native == std::endian::little;
/* Entry bits of which any says the character converts. */
constexpr int converts_mask =
    GL_CV_END | GL_CV_CONVERTS | GL_CV_LOSSY | GL_CV_SHIFTED | GL_CV_TOGGLE;

enum class Lookup { single_byte, multibyte, little_endian_source };

/* The caller's arguments, and where the conversion has got to. */
struct Cursor {
  const unsigned char *in;
  int *inleft; /* NULL: up to the end entry */
  unsigned char *out; /* NULL: measure only */
  int room;
  int left; /* input bytes left (when counted) */

  bool more() const { return inleft == nullptr || left > 0; }
};

/* A usable descriptor and arguments: false (error 2 where it can be
** stored) otherwise. A stand-in or a descriptor that failed to load has no
** table and keeps the error it carries. */
bool usable(gl_cv_desc *cd, const unsigned char *const *in, const int *outleft) {
  if (cd == nullptr || cd->base_table == nullptr) return false;
  if (in == nullptr || *in == nullptr || outleft == nullptr) {
    set_error(cd, GL_ENULLPTR);
    return false;
  }
  return true;
}

Cursor start(const unsigned char **in, int *inleft, unsigned char **out, int *outleft) {
  Cursor c {*in, inleft, out != nullptr ? *out : nullptr, *outleft, 0};
  if (inleft != nullptr) c.left = *inleft;
  return c;
}

void finish(const Cursor &c, const unsigned char **in, unsigned char **out, int *outleft) {
  *in = c.in;
  if (c.inleft != nullptr) *c.inleft = c.left;
  if (out != nullptr && *out != nullptr) *out = c.out;
  *outleft = c.room;
}

/* A table as one conversion call reads it: the root's arrays copied into
** locals once, since every byte written to the output might otherwise
** alias them and force a reload per character. */
struct TableView {
  explicit TableView(const gl_multi_t *table)
      : t(table),
        root_flags(table->root->flags),
        root_data(table->root->data),
        step(stride(table)) {}
  /* The root's entry for byte b, as entry_of gives it. */
  const unsigned char *root_entry(unsigned b) const {
    return root_data != nullptr ? root_data + b * step : t->default_entry;
  }
  bool ends_at_root(unsigned b) const {
    return root_flags != nullptr && root_flags[b] == GL_MULTI_END;
  }
  const gl_multi_t *t;
  const unsigned char *root_flags;
  const unsigned char *root_data;
  std::size_t step;
};

/* The entry of the character at the cursor and the bytes it takes, or
** nullptr with the lookup's error in cd. */
template <Lookup how>
const unsigned char *look_up(gl_cv_desc *cd, const TableView &v, const Cursor &c, int &taken) {
  if constexpr (how == Lookup::single_byte) {
    taken = 1;
    return v.root_entry(c.in[0]);
  } else if constexpr (how == Lookup::little_endian_source) {
    taken = 2;
    const int limit = c.inleft != nullptr ? c.left : 2;
    return static_cast<const unsigned char *>(
        _gl_retrieve_little_endian_unicode_limit(c.in, v.t, limit, as_record(cd)));
  } else {
    /* A one-byte character is taken from the root as the walk would take
    ** it; longer ones go through the walk, the error stored on failure. */
    if (v.ends_at_root(c.in[0])) {
      taken = 1;
      return v.root_entry(c.in[0]);
    }
    /* Two-byte characters (most of a double-byte text) likewise, through
    ** the table's own child and entry accessors. */
    if (v.root_flags != nullptr && v.root_flags[c.in[0]] == GL_MULTI_NEXT &&
        (c.inleft == nullptr || c.left >= 2)) {
      const multi_arr_t *child = child_of(v.t->root, c.in[0]);
      if (child != nullptr && flag_of(child, c.in[1]) == GL_MULTI_END) {
        taken = 2;
        return entry_of(v.t, child, c.in[1]);
      }
    }
    const walk_result found = walk(v.t, c.in, c.inleft != nullptr ? c.left : -1);
    taken = found.length;
    if (found.status == walk_status::cut) set_error(cd, GL_EINVAL);
    if (found.status == walk_status::invalid) set_error(cd, GL_EILSEQ);
    return found.entry;
  }
}

/* Reports an entry that does not convert (logged, error stored): none at
** all keeps the lookup's error. Off the inner loop. */
[[gnu::cold, gnu::noinline]] void report_no_conversion(gl_cv_desc *cd, const unsigned char *entry) {
  if (entry == nullptr) {
    gl_message("Error in Translation.");
    return;
  }
  gl_message("Error in Translation (GL_EILSEQ)");
  set_error(cd, GL_EILSEQ);
}

[[gnu::cold, gnu::noinline]] void report_no_room(gl_cv_desc *cd) {
  gl_message("Error in Translation (GL_E2BIG)");
  set_error(cd, GL_E2BIG);
}

/* Checks a looked-up entry: false (reported) when there is none or it has
** no conversion; sets the lossy flag for an approximation. */
inline bool entry_converts(gl_cv_desc *cd, const unsigned char *entry, int *lossy) {
  if (entry == nullptr || (entry[0] & converts_mask) == 0) {
    report_no_conversion(cd, entry);
    return false;
  }
  if ((entry[0] & GL_CV_LOSSY) != 0 && lossy != nullptr) *lossy = 1;
  return true;
}

inline bool room_for(gl_cv_desc *cd, const Cursor &c, int bytes) {
  if (c.room >= bytes) return true;
  report_no_room(cd);
  return false;
}

/* At most 4 bytes a time: a loop beats a call to memcpy. */
inline void put(Cursor &c, const unsigned char *bytes, int count) {
  if (c.out != nullptr) {
    for (int i = 0; i < count; ++i)
      c.out[i] = bytes[i];
    c.out += count;
  }
  c.room -= count;
}

void advance(Cursor &c, int taken) {
  c.in += taken;
  if (c.inleft != nullptr) c.left -= taken;
}

/* The stateless loop shared by the four converters; swap_target writes
** each target as a two-byte unit with its bytes swapped. */
template <Lookup how, bool swap_target>
int convert(gl_cv_desc *cd, const unsigned char **in, int *inleft, unsigned char **out,
            int *outleft, int *lossy) {
  if (!usable(cd, in, outleft)) return -1;
  Cursor c = start(in, inleft, out, outleft);
  const TableView table(cd->base_table);
  int result = 0;
  while (c.more()) {
    int taken = 0;
    const unsigned char *entry = look_up<how>(cd, table, c, taken);
    if (!entry_converts(cd, entry, lossy)) {
      result = -1;
      break;
    }
    const int length = entry[0] & GL_CV_LENGTH_MASK;
    constexpr int fixed = how == Lookup::single_byte ? 1 : swap_target ? 2 : 0;
    const int need = fixed != 0 ? fixed : length;
    if (!room_for(cd, c, need)) {
      result = -1;
      break;
    }
    if constexpr (swap_target) {
      const unsigned char unit[2] = {entry[2], entry[1]};
      put(c, unit, 2);
    } else {
      put(c, entry + 1, need);
    }
    advance(c, taken);
    if (inleft == nullptr && (entry[0] & GL_CV_END) != 0) break;
  }
  finish(c, in, out, outleft);
  return result;
}

bool is_stateful(const gl_cv_desc *cd) { return cd->source_shift != 0 || cd->target_shift != 0; }

}  // namespace

namespace glslib::conv {

bool sb_convert_byte(const gl_cv_desc *cd, unsigned char byte, unsigned char *target) {
  const gl_multi_t *t = cd->base_table;
  if (t == nullptr || t->root == nullptr) return false;
  const unsigned char *entry = entry_of(t, t->root, byte);
  if ((entry[0] & converts_mask) == 0) return false;
  *target = entry[1];
  return true;
}

}  // namespace glslib::conv

extern "C" {

int sb_miconv(gl_cv_desc *cd, const unsigned char **in, int *inleft, unsigned char **out,
              int *outleft, int *lossy) {
  return convert<Lookup::single_byte, false>(cd, in, inleft, out, outleft, lossy);
}

int mb_miconv(gl_cv_desc *cd, const unsigned char **in, int *inleft, unsigned char **out,
              int *outleft, int *lossy) {
  return convert<Lookup::multibyte, false>(cd, in, inleft, out, outleft, lossy);
}

int little_endian_unicode_source_miconv(gl_cv_desc *cd, const unsigned char **in, int *inleft,
                                        unsigned char **out, int *outleft, int *lossy) {
  return convert<Lookup::little_endian_source, false>(cd, in, inleft, out, outleft, lossy);
}

int little_endian_unicode_target_miconv(gl_cv_desc *cd, const unsigned char **in, int *inleft,
                                        unsigned char **out, int *outleft, int *lossy) {
  return convert<Lookup::multibyte, true>(cd, in, inleft, out, outleft, lossy);
}

int mb_smiconv(gl_cv_desc *cd, gl_cv_state *state, const unsigned char **in, int *inleft,
               unsigned char **out, int *outleft, int *lossy) {
  if (!usable(cd, in, outleft)) return -1;
  if (state == nullptr) {
    set_error(cd, GL_ENULLPTR);
    return -1;
  }
  if (state->reset != 0) {
    state->source_shifted = 0;
    state->target_shifted = 0;
  }
  if (lossy != nullptr) *lossy = 0;
  bool source_shifted = state->source_shifted != 0;
  bool target_shifted = state->target_shifted != 0;
  Cursor c = start(in, inleft, out, outleft);
  const TableView base(cd->base_table);
  /* A toggle in a file without a shifted-source table stays in the base
  ** table. */
  const TableView shifted(cd->shifted_table != nullptr ? cd->shifted_table : cd->base_table);
  int result = 0;
  while (c.more()) {
    int taken = 0;
    const unsigned char *entry =
        look_up<Lookup::multibyte>(cd, source_shifted ? shifted : base, c, taken);
    if (!entry_converts(cd, entry, lossy)) {
      result = -1;
      break;
    }
    const int flags = entry[0];
    const int length = flags & GL_CV_LENGTH_MASK;
    /* The new state is taken only once the character is written, so that
    ** a character that does not fit is converted afresh next time. */
    const bool next_source = (flags & GL_CV_TOGGLE) != 0 ? !source_shifted : source_shifted;
    bool next_target = target_shifted;
    int prefix = 0;
    const unsigned char *prefix_bytes = nullptr;
    if (((flags & GL_CV_SHIFTED) != 0) != target_shifted) {
      next_target = !target_shifted;
      const int seq = next_target ? 0 : 1;
      prefix = cd->shift_len[seq];
      prefix_bytes = cd->shift_seq[seq];
    }
    const bool last = inleft != nullptr ? c.left - taken <= 0 : (flags & GL_CV_END) != 0;
    int suffix = 0;
    if (state->end_flush != 0 && next_target && last) {
      suffix = cd->shift_len[1];
      /* The output is back in the base state: a later call that goes on
      ** shifted must announce it again. */
      next_target = false;
    }
    if (!room_for(cd, c, prefix + length + suffix)) {
      result = -1;
      break;
    }
    put(c, prefix_bytes, prefix);
    put(c, entry + 1, length);
    put(c, cd->shift_seq[1], suffix);
    source_shifted = next_source;
    target_shifted = next_target;
    advance(c, taken);
    if (inleft == nullptr && (flags & GL_CV_END) != 0) break;
  }
  state->source_shifted = source_shifted ? 1 : 0;
  state->target_shifted = target_shifted ? 1 : 0;
  finish(c, in, out, outleft);
  return result;
}

void set_iconv_fps(gl_cv_desc *cd) {
  cd->fast_map = nullptr;
  if (host_is_little_endian && cd->source_shift == 0 && cd->source_min_len == 2 &&
      cd->source_max_len == 2) {
    cd->converter = little_endian_unicode_source_miconv;
    return;
  }
  if (host_is_little_endian && cd->target_shift == 0 && cd->target_min_len == 2 &&
      cd->target_max_len == 2) {
    cd->converter = little_endian_unicode_target_miconv;
    return;
  }
  if (is_stateful(cd) || cd->source_max_len != 1 || cd->target_max_len != 1) {
    cd->converter = mb_miconv;
    return;
  }
  cd->converter = sb_miconv;
  if (cd->nofastmap != 0) return;
  /* The map serves only when every byte converts: a byte without a target
  ** must fail through the table, never come out as a made-up byte. */
  auto *map = static_cast<unsigned char *>(_gl_alloc_ptr(slot_count));
  if (map == nullptr) return;
  for (int b = 0; b < slot_count; ++b) {
    if (!glslib::conv::sb_convert_byte(cd, static_cast<unsigned char>(b), &map[b])) {
      _gl_free_ptr(map);
      return;
    }
  }
  cd->fast_map = map;
}

int gl_cv_mconv(gl_cv_desc *cd, gl_cv_state *state, const unsigned char **in, int *inleft,
                unsigned char **out, int *outleft, int *lossy) {
  if (cd == nullptr || cd->converter == nullptr) return -1;
  if (!is_stateful(cd)) return cd->converter(cd, in, inleft, out, outleft, lossy);
  gl_cv_state fresh {1, 1, 0, 0};
  return mb_smiconv(cd, state != nullptr ? state : &fresh, in, inleft, out, outleft, lossy);
}

int gl_miconv(gl_cv_desc *cd, const unsigned char **in, int *inleft, unsigned char **out,
              int *outleft, int *lossy) {
  return gl_cv_mconv(cd, nullptr, in, inleft, out, outleft, lossy);
}

int gl_mconvlen(gl_cv_desc *cd, gl_cv_state *state, const unsigned char **in, int *inleft,
                int *outleft, int *lossy) {
  return gl_cv_mconv(cd, state, in, inleft, nullptr, outleft, lossy);
}

}  // extern "C"
