# The client environment's sources, relative to oslib/.
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
  nls_compare.cpp)
