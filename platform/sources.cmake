# The platform layer's sources, relative to platform/. Included by
# platform/CMakeLists.txt and by the locale and value libraries' fuzz
# projects (tests/glslib/fuzz, tests/genlib/fuzz), which compile them in
# directly: one list for all.
set(dvz_platform_sources
  svr4_libgen.cpp
  svr4_regex.cpp
  svr4_signal.cpp
  svr4_time.cpp
  tli_socket.cpp
  streams_socket.cpp
  fd_close.cpp)
