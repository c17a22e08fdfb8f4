# The value library's sources, relative to genlib/. Included by
# genlib/CMakeLists.txt and by the fuzz project (tests/genlib/fuzz), which
# compiles the library in directly: one list for both.
set(dvz_genlib_sources
  type_tables.cpp
  decimal.cpp
  decimal_packed.cpp
  type_width.cpp
  hash_table.cpp
  code6.cpp
  string_helpers.cpp
  decimal_text.cpp
  decimal_float.cpp
  number_formats.cpp
  number_text.cpp
  process_switches.cpp
  date_formats_in_force.cpp
  date_days.cpp
  date_text.cpp
  date_scan.cpp
  date_picture.cpp
  date_classic.cpp
  datetime_format.cpp
  vrn_picture.cpp
  interval_format.cpp
  datetime_core.cpp
  datetime_text.cpp
  datetime_arith.cpp
  datetime_current.cpp
  expr_types.cpp)
