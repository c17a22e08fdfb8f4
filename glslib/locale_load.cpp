/*
** Loading a locale record from locale files: choosing the file of each
** category from a specification, the environment or default.lco, finding
** and opening it, checking its header and code set, reading its section,
** and the query string that names what was loaded; a whole record from
** default.lco.
**
** Callers: the client environment (one record per locale), tests and
** tools. Calls: the file search and host services, the section readers,
** the derived data (locale_derived.cpp) and the record's lifecycle
** (locale_record.cpp).
*/

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "gl_registry.h"
#include "locale_internal.h"

using glslib::category_slot;
using glslib::is_static_record;
using glslib::load_error;
using glslib::store_error;

namespace {

constexpr const char *default_file = "default.lco";
constexpr const char *native_name = "native";

struct SectionTexts {
  const char *read_failed;
  const char *init_failed;
};

constexpr SectionTexts section_texts[8] = {
    {nullptr, nullptr},
    {nullptr, nullptr},
    {nullptr, nullptr},
    {nullptr, nullptr},
    {"Failed to read numeric information", "Failed to initialize numeric information"},
    {"Failed to read monetary information", "Failed to initialize monetary information"},
    {"Failed to read time information", "Failed to initialize time information"},
    {"Failed to read messages information", "Failed to initialize messages information"},
};

}  // namespace

namespace glslib {

int read_section(gl_locale *record, int category, FILE *stream) {
  char line[128];
  for (;;) {
    int length = read_line(stream, line, sizeof line);
    if (length == -1) {
      store_error(record, GL_EBADFILE);
      return 1;
    }
    if (length > 0 && std::strcmp(line, category_markers[category]) == 0) break;
  }
  if (category == GL_CTYPE) return read_ctype(stream, record);
  if (category == GL_COLLATE) return read_collate(stream, record);
  int error = 0;
  int result = -1;
  switch (category) {
    case GL_NUMERIC:
      result = _gl_read_numeric(stream, record, &error);
      break;
    case GL_MONETARY:
      result = _gl_read_monetary(stream, record, &error);
      break;
    case GL_TIME:
      result = _gl_read_time(stream, &record->ltime, &error);
      break;
    case GL_MESSAGES:
      result = _gl_read_messages(stream, record, &error);
      break;
  }
  if (result != 0) {
    store_error(record, error);
    gl_message(section_texts[category].read_failed);
    return 1;
  }
  if (init_category(record, category) < 1) {
    gl_message(section_texts[category].init_failed);
    return 1;
  }
  return 0;
}

}  // namespace glslib

namespace {

/* Reads a locale file's header, its code-set name into codeset; false
** with the error word set. */
bool read_header(gl_locale *record, FILE *stream, char *codeset) {
  int error = 0;
  if (read_file_header(stream, codeset, &error)) return true;
  store_error(record, error != 0 ? error : GL_EBADFILE);
  return false;
}

/* Reads one category from an open locale file. 0 or nonzero. */
int read_one_category(gl_locale *record, int category, FILE *stream) {
  char *codeset = record->codeset_names[category_slot(category)];
  if (!read_header(record, stream, codeset)) return 1;
  if (category != GL_CTYPE) {
    const bool same = glslib::same_codeset(record, record->codeset_names[0], codeset);
    store_error(record, 0);
    if (!same) {
      store_error(record, GL_ECTYPECS);
      return 1;
    }
  }
  return glslib::read_section(record, category, stream);
}

/* Joins pieces into a new block from the host allocator; NULL with error 3. */
char *join_path(gl_locale *record, std::initializer_list<const char *> pieces) {
  std::size_t total = 1;
  for (const char *p : pieces)
    total += std::strlen(p);
  auto *path = static_cast<char *>(_gl_alloc_ptr(total));
  if (path == nullptr) {
    store_error(record, GL_ENOMEM);
    return nullptr;
  }
  path[0] = '\0';
  for (const char *p : pieces)
    std::strcat(path, p);
  return path;
}

/* Opens directory + "/" + name with gl_open_file. */
FILE *open_in_directory(gl_locale *record, const char *directory, const char *name) {
  char *path = join_path(record, {directory, "/", name});
  if (path == nullptr) return nullptr;
  FILE *stream = gl_open_file(record, path);
  _gl_free_ptr(path);
  return stream;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

/* Loads one category. loaded (GL_FILE_NAME_SLOT bytes) receives the name
** the file was loaded under, terminated. 0, or nonzero with the error word set. */
int load_category(gl_locale *record, int category, const char *spec, char *loaded,
                  const char *directory) {
  const char *key = category_params[category];
  /* The chosen name lives in name_buffer or is one of spec / env / default. */
  char name_buffer[GL_LC_SPEC_LIMIT];
  const char *name = nullptr;
  if (spec[0] != '\0') {
    const char *found = std::strstr(spec, key);
    if (found != nullptr) {
      const char *p = std::strchr(found + std::strlen(key), '=');
      if (p == nullptr) {
        store_error(record, GL_EINVAL); /* a key without "=" */
        return 1;
      }
      ++p;
      while (is_blank(*p))
        ++p;
      std::size_t n = 0;
      /* Taken whole: a cut name could open another file. */
      while (p[n] != '\0' && !is_blank(p[n]))
        ++n;
      std::memcpy(name_buffer, p, n);
      name_buffer[n] = '\0';
      name = name_buffer;
    } else {
      name = spec;
    }
  } else {
    name = _gl_get_env_var("GL_ALL");
    if (name == nullptr) name = _gl_get_env_var(key);
    if (name == nullptr) name = _gl_get_env_var("GL_LANG");
    if (name == nullptr) name = default_file;
  }

  const bool native = std::strcmp(name, native_name) == 0;
  FILE *stream = nullptr;
  if (directory != nullptr) {
    stream = open_in_directory(record, directory, native ? native_name : name);
  } else {
    stream = gl_path_search(record, native ? default_file : name, "lc", "11");
  }
  if (stream == nullptr) {
    if (load_error(record) == 0) store_error(record, GL_ENOFILE);
    return 1;
  }
  /* The record keeps GL_FILE_NAME_SLOT bytes per name, room for any name
  ** the loader takes; a longer one is refused, not cut. */
  if (std::strlen(name) >= GL_FILE_NAME_SLOT) {
    _gl_ext_fclose(stream);
    store_error(record, GL_EBADARG);
    return 1;
  }
  std::strcpy(loaded, name);

  gl_free_category(record, category);
  gl_make_null_category(record, category);
  int result = read_one_category(record, category, stream);
  _gl_ext_fclose(stream);
  if (result != 0) {
    /* Nothing half-read stays reachable: the category goes back to null
    ** (the error that failed the read is kept). */
    int error = load_error(record);
    gl_free_category(record, category);
    gl_make_null_category(record, category);
    store_error(record, error);
  }
  return result;
}

/* The worker of gl_setlocale_4 and gl_lc_load. */
char *setlocale_worker(gl_locale *record, int category, const char *spec, const char *directory) {
  if (record == nullptr || is_static_record(record)) return nullptr;
  auto *query = static_cast<char *>(_gl_alloc_ptr(GL_LC_QUERY_SIZE));
  if (query == nullptr) {
    store_error(record, GL_ENOMEM);
    return nullptr;
  }
  query[0] = '\0';
  if (category < GL_ALL || category > GL_MESSAGES) {
    _gl_free_ptr(query);
    store_error(record, GL_EBADARG);
    return nullptr;
  }
  if (spec != nullptr) {
    if (std::strlen(spec) >= GL_LC_SPEC_LIMIT) {
      _gl_free_ptr(query);
      store_error(record, GL_EBADARG);
      return nullptr;
    }
    char copy[GL_LC_SPEC_LIMIT];
    std::strcpy(copy, spec);
    int first = category == GL_ALL ? GL_CTYPE : category;
    int last = category == GL_ALL ? GL_MESSAGES : category;
    for (int c = first; c <= last; ++c) {
      char loaded[GL_FILE_NAME_SLOT] = {};
      if (load_category(record, c, copy, loaded, directory) != 0) {
        _gl_free_ptr(query);
        if (load_error(record) == 0) store_error(record, GL_ELOADFAIL);
        return nullptr;
      }
      std::memcpy(record->file_names[category_slot(c)], loaded, GL_FILE_NAME_SLOT);
    }
    glslib::update_locale(record);
    glslib::widen_names(record);
  }
  if (category == GL_ALL) {
    for (int c = GL_CTYPE; c <= GL_MESSAGES; ++c) {
      std::strcat(query, category_params[c]);
      std::strcat(query, " = ");
      std::strcat(query, record->file_names[category_slot(c)]);
      std::strcat(query, " ; ");
    }
  } else {
    std::strcat(query, record->file_names[category_slot(category)]);
  }
  return query;
}

}  // namespace

extern "C" {

char *gl_setlocale_4(gl_locale *record, int category, const char *specification) {
  return setlocale_worker(record, category, specification, nullptr);
}

int gl_lc_load(gl_locale **record, const char *specification, const char *registry,
               const char *directory) {
  char fspec[GL_LC_FSPEC_SIZE];
  const char *spec = specification;
  if (specification != nullptr &&
      gl_lc_spec2lc_fname(nullptr, specification, fspec, registry, nullptr) == 0)
    spec = fspec;
  if (gl_create_null_locale_4(record) != 0) return -1;
  char *query = setlocale_worker(*record, GL_ALL, spec, directory);
  gl_destroystring(query);
  return load_error(*record) != 0 ? -1 : 0;
}

int read_locale_file(FILE *stream, gl_locale *record) {
  if (!read_header(record, stream, record->codeset_names[0])) return 1;
  for (int i = 1; i < GL_CATEGORY_COUNT; ++i)
    std::memcpy(record->codeset_names[i], record->codeset_names[0], GL_CS_NAME_SLOT);
  for (int c = GL_CTYPE; c <= GL_MESSAGES; ++c)
    if (glslib::read_section(record, c, stream) != 0) return 1;
  return 0;
}

int gl_createlocale_4(gl_locale **record) { return gl_createlocale2_4(record, nullptr); }

int gl_createlocale2_4(gl_locale **record, const char *prefix) {
  if (gl_create_null_locale_4(record) != 0) return -1;
  gl_locale *r = *record;
  FILE *stream = nullptr;
  if (prefix != nullptr) {
    char *path = join_path(r, {prefix, default_file});
    if (path != nullptr) {
      stream = _gl_ext_fopen(path, "r");
      _gl_free_ptr(path);
    }
  }
  if (stream == nullptr) stream = gl_path_search(r, default_file, "lc", "11");
  if (stream == nullptr) {
    gl_lc_unload(r);
    *record = &loc_filer;
    return -1;
  }
  store_error(r, 0);
  int result = read_locale_file(stream, r);
  _gl_ext_fclose(stream);
  if (result != 0) {
    if (load_error(r) == 0) store_error(r, GL_ELOADFAIL);
    return -1;
  }
  for (auto &name : r->file_names) {
    std::memset(name, 0, GL_FILE_NAME_SLOT);
    std::strcpy(name, default_file);
  }
  glslib::update_locale(r);
  glslib::widen_names(r);
  return 0;
}

}  // extern "C"
