# Sources of dvz_asf, relative to asf/: one list for the library and for
# the fuzz project (tests/asf/fuzz).
set(dvz_asf_sources
  al/assoc_records.cpp
  al/asf_global.cpp
  al/ns_records.cpp
  al/file_reader.cpp
  al/sqlhosts.cpp
  al/sqlhosts_options.cpp
  tl/driver_support.cpp
  net/net_messages.cpp)
