# Helpers of the libFuzzer projects (tests/*/fuzz): each is a project of its
# own, built with clang 14 and never part of the main build, that compiles
# the subsystems it needs in directly from the lists their own builds use
# (<subsystem>/sources.cmake). A project sets DVZ_ROOT to the repository
# root and includes this file from there.

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

# The sanitizers of every fuzz library and target.
set(dvz_fuzz_sanitize -fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)

# Each subsystem's include directories, relative to DVZ_ROOT: its public and
# records headers and, the targets being white-box, its internal ones.
set(dvz_fuzz_includes_sqli sqli/include sqli sqli/records/include)
set(dvz_fuzz_includes_asf
    asf/include asf/internal asf/records/include asf/al asf/tl asf/pfslsqi asf/ns asf/net asf/css
    asf/asfcss)
set(dvz_fuzz_includes_genlib genlib/include genlib/records/include genlib)
set(dvz_fuzz_includes_oslib oslib/include oslib)
set(dvz_fuzz_includes_glslib glslib/include glslib)
set(dvz_fuzz_includes_platform platform)

# dvz_fuzz_library(<name> SUBSYSTEMS <subsystem>... [SOURCES <file>...]
#                  [INCLUDES <dir>...] [LINK <library>...]): a static library
# of the listed subsystems' sources plus SOURCES, with the subsystems'
# include directories (in the order listed) then INCLUDES, compiled for
# fuzzing; SOURCES and INCLUDES are relative to DVZ_ROOT. Everything that
# links it inherits the include directories, flags and LINK libraries.
function(dvz_fuzz_library name)
  cmake_parse_arguments(F "" "" "SUBSYSTEMS;SOURCES;INCLUDES;LINK" ${ARGN})
  set(sources)
  set(includes)
  foreach(subsystem IN LISTS F_SUBSYSTEMS)
    include(${DVZ_ROOT}/${subsystem}/sources.cmake)
    list(TRANSFORM dvz_${subsystem}_sources PREPEND ${DVZ_ROOT}/${subsystem}/)
    list(APPEND sources ${dvz_${subsystem}_sources})
    list(APPEND includes ${dvz_fuzz_includes_${subsystem}})
  endforeach()
  list(APPEND sources ${F_SOURCES})
  list(APPEND includes ${F_INCLUDES})
  list(TRANSFORM sources PREPEND ${DVZ_ROOT}/ REGEX "^[^/]")
  list(TRANSFORM includes PREPEND ${DVZ_ROOT}/)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${includes})
  target_compile_options(${name} PUBLIC -g -O1 -fsanitize=fuzzer-no-link ${dvz_fuzz_sanitize})
  if(F_LINK)
    target_link_libraries(${name} PUBLIC ${F_LINK})
  endif()
endfunction()

# dvz_fuzz_dovarizadir(<data target>): the targets' DOVARIZADIR tree, a copy
# of the shipped locale data in the installed layout (gls/) made at build
# time by <data target>, so that the client locales initialise as in the
# main build's tree; it has no etc/dovariza.rc.
function(dvz_fuzz_dovarizadir data_target)
  add_custom_target(${data_target}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${DVZ_ROOT}/glslib/data/gls
            ${CMAKE_CURRENT_BINARY_DIR}/dovariza/gls
    VERBATIM)
endfunction()

# dvz_fuzz_target(<name> LIBRARY <library> [SOURCE <file>] [DATA <data target>]
#                 [DEFINITIONS <definition>...]): one fuzz target built from
# SOURCE (default <name>.cpp) and linked with <library>; with DATA it gets
# FUZZ_DOVARIZADIR, the tree of dvz_fuzz_dovarizadir, built first.
function(dvz_fuzz_target name)
  cmake_parse_arguments(F "" "LIBRARY;SOURCE;DATA" "DEFINITIONS" ${ARGN})
  if(NOT F_SOURCE)
    set(F_SOURCE ${name}.cpp)
  endif()
  add_executable(${name} ${F_SOURCE})
  target_link_libraries(${name} PRIVATE ${F_LIBRARY})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer ${dvz_fuzz_sanitize})
  if(F_DATA)
    target_compile_definitions(${name} PRIVATE
      FUZZ_DOVARIZADIR="${CMAKE_CURRENT_BINARY_DIR}/dovariza")
    add_dependencies(${name} ${F_DATA})
  endif()
  if(F_DEFINITIONS)
    target_compile_definitions(${name} PRIVATE ${F_DEFINITIONS})
  endif()
endfunction()
