# The client environment's sources, relative to oslib/. Included by
# oslib/CMakeLists.txt and by the value library's fuzz project
# (tests/genlib/fuzz), which compiles them in directly: one list for both.
set(dvz_oslib_sources
  # Seams between the library and the operating system (os_seams.h).
  os_seams.cpp
  # Byte, string and stored-value primitives.
  stored_strings.cpp
  stored_values.cpp
  # Operating-system wrappers: users, hosts, paths, database paths,
  # memory and locks.
  os_users.cpp
  os_hosts.cpp
  os_paths.cpp
  os_dbpath.cpp
  os_memory.cpp
  # The environment: variable table and look-ups, rc files, environment
  # and name lists, putting variables, the database NLS settings.
  env_table.cpp
  env_rcfile.cpp
  env_lists.cpp
  env_putenv.cpp
  env_dbvars.cpp
  # The general control block and the message catalogs.
  gentcb.cpp
  message_index.cpp
  message_catalog.cpp
  # The OS context, the 8-bit character tables, case conversion and the
  # locale-aware CHAR comparison.
  os_context.cpp
  char_tables.cpp
  case_shift.cpp
  nls_compare.cpp
  # The SQL protocol trace.
  sql_trace.cpp
  # Per-connection locale environments, the locale library's host
  # callbacks, and the numeric and monetary conventions.
  glsenv_list.cpp
  host_callbacks.cpp
  conventions.cpp
  # Code-set conversion services: the buffer routines, file calls with
  # converted names, printers with converted arguments, and conversion
  # between locale specifications with the multibyte helpers.
  conversion.cpp
  conversion_files.cpp
  conversion_print.cpp
  conversion_multibyte.cpp
  # The client's locale initialisation and state block: the current
  # environment and init, the locale specifications, the date formats and
  # name caches.
  glsenv.cpp
  glsenv_specs.cpp
  glsenv_dates.cpp)
