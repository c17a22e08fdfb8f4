# dvz_check_layers(<target>... [ALLOW <lower>:<higher>...]) with the
# subsystems' targets lowest first: fails the configuration when a target
# links one listed after it. A lower subsystem reaches a higher one only
# through a table of function pointers that the higher one fills in at
# initialisation, never by linking it; the pairs after ALLOW are the
# decided exceptions (README.md, Layout).
function(dvz_check_layers)
  cmake_parse_arguments(L "" "" "ALLOW" ${ARGN})
  set(higher ${L_UNPARSED_ARGUMENTS})
  foreach(target IN LISTS L_UNPARSED_ARGUMENTS)
    list(REMOVE_ITEM higher ${target})
    set(links)
    foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      get_target_property(value ${target} ${property})
      if(value)
        list(APPEND links ${value})
      endif()
    endforeach()
    foreach(link IN LISTS links)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
      if(link IN_LIST higher AND NOT "${target}:${link}" IN_LIST L_ALLOW)
        message(FATAL_ERROR "${target} links ${link}, a higher subsystem")
      endif()
    endforeach()
  endforeach()
endfunction()
