# The locale library's sources, relative to glslib/. Included by
# glslib/CMakeLists.txt and by the fuzz project (tests/glslib/fuzz), which
# compiles the library in directly: one list for both.
set(dvz_glslib_sources
  calendars.cpp
  chars_class_case.cpp
  chars_multibyte.cpp
  chars_width.cpp
  collate_reader.cpp
  collation_placeholder.cpp
  diagnostics.cpp
  era_parse.cpp
  file_search.cpp
  host_services.cpp
  locale_derived.cpp
  locale_info.cpp
  locale_load.cpp
  locale_readers.cpp
  locale_record.cpp
  locale_spec.cpp
  multilevel_reader.cpp
  multilevel_table.cpp
  multilevel_writer.cpp
  name_trees.cpp
  number_helpers.cpp
  registry.cpp
  spec_forms.cpp
  token_readers.cpp)
