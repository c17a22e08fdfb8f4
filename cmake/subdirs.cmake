# dvz_add_all_subdirs(): adds every folder below the current one that has a
# CMakeLists.txt, so that independent pieces can be added without editing a
# shared list. Folders named "fuzz" are built separately (by clang).
function(dvz_add_all_subdirs)
  file(GLOB_RECURSE lists CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  list(SORT lists)
  foreach(f IN LISTS lists)
    get_filename_component(d ${f} DIRECTORY)
    if(NOT d MATCHES "/fuzz(/|$)")
      add_subdirectory(${d})
    endif()
  endforeach()
endfunction()
