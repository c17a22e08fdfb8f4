/*
** spec_forms.cpp - conversions between the forms of a locale specification:
** normal forms, short to long and back, one category of a long form, the
** syntax check, and a file specification back to a locale specification.
**
** No caller in the client library uses these; they complete the interface
** of the locale-specification module. Calls: its scanners and
** operations of locale_spec.cpp, the registry lookup, and the file search
** and stream wrappers of the host-service layer (gl_lc_fname2lc_spec only).
** Output buffers carry no size; a long form needs at most six entries of
** key, " = ", a short specification of up to 32 characters and " ; ".
** Working texts are bounded and live on the stack; the one block of
** unbounded size (a directory joined to a file name) comes from the host
** allocator like every other block of the library.
*/
#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "gl_host.h"
#include "gl_registry.h"
#include "spec_scan.h"

namespace {

using namespace gls_spec;

/* The six keys in the order of the long forms written here: CTYPE,
** COLLATE, NUMERIC, MONETARY, TIME, MESSAGES (in _gl_is_category numbers). */
constexpr int write_order[key_count] = {1, 2, 5, 4, 3, 6};

/* Key number of the locale record's category numbers 2-7, or 0. */
constexpr int key_of_category(int category) {
  constexpr int key_by_category[8] = {0, 0, 1, 2, 5, 4, 3, 6};
  return category >= 2 && category <= 7 ? key_by_category[category] : 0;
}

int fail(gl_locale *record, int err) {
  store_error(record, err);
  return -1;
}

/* NULL and length checks shared by every operation here. */
bool usable(gl_locale *record, const char *spec, const char *output, std::string_view &text) {
  if (output == nullptr) {
    store_error(record, GL_ENULLPTR);
    return false;
  }
  return usable_spec(record, spec, text);
}

char *put(char *p, std::string_view s) { return std::copy(s.begin(), s.end(), p); }

/* A terminated text of at most N - 1 characters in a fixed buffer; an
** append that does not fit fails and leaves the text as it was. */
template <std::size_t N>
class BoundedText {
 public:
  bool append(std::string_view s) {
    if (s.size() > N - 1 - size_) return false;
    put(data_.data() + size_, s);
    size_ += s.size();
    data_[size_] = '\0';
    return true;
  }
  bool assign(std::string_view s) {
    clear();
    return append(s);
  }
  void clear() {
    size_ = 0;
    data_[0] = '\0';
  }
  const char *c_str() const { return data_.data(); }
  std::string_view view() const { return std::string_view(data_.data(), size_); }

 private:
  std::array<char, N> data_ {};
  std::size_t size_ = 0;
};

/* A normalised short form: "ll_TT.<up to 5 digits>[@<up to 4>]". */
using ShortText = BoundedText<GL_LC_FNAME_SIZE>;
/* A long form of six such entries. */
using LongText = BoundedText<GL_LC_FSPEC_SIZE>;

/* Short form filling text, normalised ("ll_TT.<decimal number>[@mod]") into
** out. False with the error stored on failure. */
bool normalise_short(gl_locale *record, std::string_view text, const char *registry,
                     ShortText &out) {
  ParsedShort parsed;
  if (!parse_short(record, text, registry, parsed) || parsed.spec.length != text.size()) {
    store_error(record, GL_EINVAL);
    return false;
  }
  char lang_terr[GL_LC_LANGTERR_SIZE];
  char codeset[GL_LC_CSTEXT_SIZE];
  char modifier[GL_LC_MODIFIER_SIZE];
  char spec[GL_LC_FNAME_SIZE];
  if (gl_lc_fname2lc_pieces(record, parsed.fname, lang_terr, codeset, modifier) != 0 ||
      gl_lc_pieces2lc_spec(record, lang_terr, codeset, modifier, spec) != 0) {
    return false;
  }
  out.assign(spec);
  return true;
}

/* The short specification of an entry as written. */
std::string_view entry_text(const ShortSpec &spec) {
  return std::string_view(spec.lang_terr.data(), spec.length);
}

/* Opens the locale file fname (which may carry its own prefix and 0xFF)
** the way the loader would, and closes it again. False with error 8 (3
** when the joined name cannot be allocated). */
bool locale_file_opens(gl_locale *record, std::string_view fname, const char *directory) {
  const bool cookie = fname.find('\xFF') != std::string_view::npos;
  std::string_view dir =
      !cookie && directory != nullptr ? std::string_view(directory) : std::string_view();
  /* The name as the search wants it: "<directory>\xFF<fname>" or fname alone. */
  const std::size_t size = dir.empty() ? fname.size() + 1 : dir.size() + 1 + fname.size() + 1;
  char *name = static_cast<char *>(_gl_alloc_ptr(size));
  if (name == nullptr) {
    store_error(record, GL_ENOMEM);
    return false;
  }
  char *p = name;
  if (!dir.empty()) {
    p = put(p, dir);
    *p++ = '\xFF';
  }
  *put(p, fname) = '\0';
  FILE *fp = cookie || !dir.empty() ? gl_open_file(record, name)
                                    : gl_path_search(record, name, "lc", "11");
  _gl_free_ptr(name);
  if (fp == nullptr) {
    store_error(record, GL_ENOFILE);
    return false;
  }
  _gl_ext_fclose(fp);
  return true;
}

/* Locale specification of one locale file name (after its prefix and
** 0xFF, when it has one) into out. False with error 7. */
bool fname_to_spec(gl_locale *record, std::string_view fname, ShortText &out) {
  std::size_t cookie = fname.rfind('\xFF');
  std::string_view base = cookie == std::string_view::npos ? fname : fname.substr(cookie + 1);
  /* A locale file name fits a file-name slot; anything longer is none. */
  ShortText name;
  char lang_terr[GL_LC_LANGTERR_SIZE];
  char codeset[GL_LC_CSTEXT_SIZE];
  char modifier[GL_LC_MODIFIER_SIZE];
  char spec[GL_LC_FNAME_SIZE];
  /* Only a complete file name counts: pieces followed by ".lco". */
  std::size_t dot = base.find('.');
  if (!name.assign(base) || dot == std::string_view::npos || base.substr(dot) != ".lco" ||
      gl_lc_fname2lc_pieces(record, name.c_str(), lang_terr, codeset, modifier) != 0 ||
      gl_lc_pieces2lc_spec(record, lang_terr, codeset, modifier, spec) != 0) {
    store_error(record, GL_EINVAL);
    return false;
  }
  out.assign(spec);
  return true;
}

}  // namespace

extern "C" {

int _gl_lc_short_spec2lc_short_norm(gl_locale *record, const char *spec, char *output,
                                    const char *registry) {
  std::string_view text;
  if (!usable(record, spec, output, text)) return -1;
  ShortText norm;
  if (!normalise_short(record, text, registry, norm)) return -1;
  *put(output, norm.view()) = '\0';
  return 0;
}

int gl_lc_spec2lc_norm(gl_locale *record, const char *spec, char *output, const char *registry) {
  std::string_view text;
  if (!usable(record, spec, output, text)) return -1;
  if (!begins_with_key(text))
    return _gl_lc_short_spec2lc_short_norm(record, spec, output, registry);

  LongSpec scanned;
  ParsedShort parsed[key_count];
  if (!parse_long(record, text, false, registry, scanned, parsed)) return -1;
  if (scanned.count != key_count) return fail(record, GL_EINVAL);
  ShortText norms[key_count + 1];
  for (int i = 0; i < scanned.count; ++i) {
    if (!normalise_short(record, entry_text(scanned.entries[i].spec), registry,
                         norms[scanned.entries[i].key])) {
      return -1;
    }
  }
  char *p = output;
  for (int key : write_order) {
    p = put(p, key_names[key]);
    p = put(p, key_equals);
    p = put(p, norms[key].view());
    p = put(p, entry_separator);
  }
  *p = '\0';
  return 0;
}

int gl_lc_short2lc_long(gl_locale *record, const char *spec, char *output, const char *registry) {
  std::string_view text;
  if (!usable(record, spec, output, text)) return -1;
  ShortSpec scanned;
  if (!scan_short(text, scanned, true) || scanned.length != text.size()) {
    return fail(record, GL_EINVAL);
  }
  if (!scanned.codeset.empty()) {
    ParsedShort parsed;
    if (!parse_short(record, text, registry, parsed)) return fail(record, GL_EINVAL);
  }
  std::array<char, GL_LC_SPEC_MAX> lower_text; /* usable_spec: at most GL_LC_SPEC_MAX */
  std::transform(text.begin(), text.end(), lower_text.begin(), to_lower);
  const std::string_view lower(lower_text.data(), text.size());
  char *p = output;
  for (int i = 0; i < key_count; ++i) {
    if (i > 0) p = put(p, entry_separator);
    p = put(p, key_names[write_order[i]]);
    p = put(p, key_equals);
    p = put(p, lower);
  }
  *p = '\0';
  return 0;
}

int gl_is_lc_spec(gl_locale *record, const char *text) {
  std::string_view spec;
  if (!usable_spec(record, text, spec)) return -1;
  bool ok;
  if (begins_with_key(spec)) {
    LongSpec scanned;
    ok = scan_long(spec, false, scanned);
  } else {
    ShortSpec scanned;
    ok = scan_short(spec, scanned) && scanned.length == spec.size();
  }
  return ok ? 0 : fail(record, GL_EINVAL);
}

int gl_lc_spec2lc_short(gl_locale *record, const char *spec, char *output, const char *registry) {
  std::string_view text;
  if (!usable(record, spec, output, text)) return -1;
  std::string_view result = text;
  if (begins_with_key(text)) {
    LongSpec scanned;
    ParsedShort parsed[key_count];
    if (!parse_long(record, text, false, registry, scanned, parsed)) return -1;
    /* One locale: every entry names the same locale file. */
    for (int i = 1; i < scanned.count; ++i) {
      if (std::strcmp(parsed[i].fname, parsed[0].fname) != 0) return fail(record, GL_EINVAL);
    }
    result = entry_text(scanned.entries[0].spec);
  } else {
    ParsedShort parsed;
    if (!parse_short(record, text, registry, parsed) || parsed.spec.length != text.size()) {
      return fail(record, GL_EINVAL);
    }
  }
  *put(output, result) = '\0';
  return 0;
}

int gl_lc_spec2category(gl_locale *record, const char *spec, int category, char *output,
                        const char *registry) {
  std::string_view text;
  if (!usable(record, spec, output, text)) return -1;
  int key = key_of_category(category);
  if (key == 0) return fail(record, GL_EBADARG);
  if (!begins_with_key(text)) return gl_lc_spec2lc_short(record, spec, output, registry);

  LongSpec scanned;
  ParsedShort parsed[key_count];
  if (!parse_long(record, text, false, registry, scanned, parsed)) return -1;
  for (int i = 0; i < scanned.count; ++i) {
    if (scanned.entries[i].key == key) {
      *put(output, entry_text(scanned.entries[i].spec)) = '\0';
      return 0;
    }
  }
  return fail(record, GL_EINVAL);
}

int gl_lc_fname2lc_spec(gl_locale *record, const char *fspec, char *output, const char *directory) {
  if (fspec == nullptr || output == nullptr) return fail(record, GL_ENULLPTR);
  std::string_view text(fspec);
  ShortText spec;
  if (!begins_with_key(text)) {
    if (!fname_to_spec(record, text, spec) || !locale_file_opens(record, text, directory)) {
      return -1;
    }
    *put(output, spec.view()) = '\0';
    return 0;
  }

  /* "KEY = file ; KEY = file [ ; ]": each file name runs to " ; " or the end. */
  LongText result; /* six entries at most: a key is never repeated */
  bool seen[key_count + 1] = {};
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t key_length = 0;
    int key = key_at(text.substr(pos), key_length);
    if (key == 0 || seen[key]) return fail(record, GL_EINVAL);
    seen[key] = true;
    result.append(text.substr(pos, key_length));
    pos += key_length;
    if (!text.substr(pos).starts_with(key_equals)) return fail(record, GL_EINVAL);
    result.append(key_equals);
    pos += key_equals.size();
    std::size_t end = text.find(entry_separator, pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view fname = text.substr(pos, end - pos);
    if (!fname_to_spec(record, fname, spec) || !locale_file_opens(record, fname, directory)) {
      return -1;
    }
    result.append(spec.view());
    pos = end;
    if (pos < text.size()) {
      result.append(entry_separator);
      pos += entry_separator.size();
    }
  }
  *put(output, result.view()) = '\0';
  return 0;
}

}  // extern "C"
