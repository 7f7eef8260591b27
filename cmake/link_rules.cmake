# Which libraries a target may take in, checked when the build is
# configured: the product links no test kit, and the link layer stands
# beside the download engine, not on it.

# Collects into `out` every target that `target` links, directly or through
# the libraries it links.
function(tamri_linked_targets target out)
  set(seen "")
  set(queue ${target})
  while(queue)
    list(POP_FRONT queue current)
    foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      get_target_property(items ${current} ${property})
      if(NOT items)
        continue()
      endif()
      foreach(item IN LISTS items)
        # $<LINK_ONLY:name> (a static library's private links) names a target
        # too; other generator expressions (object files) name none.
        string(REGEX REPLACE "^\\$<LINK_ONLY:([^>]+)>$" "\\1" item "${item}")
        if(TARGET "${item}" AND NOT item IN_LIST seen)
          list(APPEND seen ${item})
          list(APPEND queue ${item})
        endif()
      endforeach()
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

# tamri_forbid_links(target LIBS ...): configuring fails when `target` takes
# in any of the LIBS.
function(tamri_forbid_links target)
  cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
  if(NOT TARGET ${target})
    return()
  endif()
  tamri_linked_targets(${target} linked)
  foreach(lib IN LISTS F_LIBS)
    if(lib IN_LIST linked)
      message(FATAL_ERROR "${target} must not link ${lib} (it links: ${linked})")
    endif()
  endforeach()
endfunction()
