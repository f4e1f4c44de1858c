# molvane_glob_sources(<out-var> <dir>...)
# Collects the C and C++ sources of the given folders (recursively), so that a
# new file in a subsystem folder joins the build without editing CMake files.
function(molvane_glob_sources out)
  set(result "")
  foreach(dir IN LISTS ARGN)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS
      "${dir}/*.cc" "${dir}/*.cpp" "${dir}/*.c")
    list(APPEND result ${found})
  endforeach()
  list(SORT result)
  set(${out} ${result} PARENT_SCOPE)
endfunction()
