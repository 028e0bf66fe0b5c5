# A program for the inside of a sandbox that has no libraries: linked
# statically, so without the sanitizers, which cannot be.
function(link_statically target)
  foreach(property COMPILE_OPTIONS LINK_OPTIONS)
    get_target_property(options ${target} ${property})
    if(options)
      list(FILTER options EXCLUDE REGEX "sanitize")
      set_target_properties(${target} PROPERTIES ${property} "${options}")
    endif()
  endforeach()
  target_link_options(${target} PRIVATE -static -pthread)
endfunction()
