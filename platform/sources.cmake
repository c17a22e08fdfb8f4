# The platform layer's sources, relative to platform/. Included by
# platform/CMakeLists.txt and by the locale library's fuzz project
# (tests/glslib/fuzz), which compiles them in directly: one list for both.
set(dvz_platform_sources
  svr4_libgen.cpp
  svr4_regex.cpp
  svr4_signal.cpp
  svr4_time.cpp)
