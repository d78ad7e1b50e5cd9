# pip builds each install in a new temporary environment, so the headers that come from
# PyPI (nlohmann-json, pybind11) sit under a new path every time. A new include path is a
# new compile command, and the build tree kept between installs would be compiled again
# from scratch. The headers are therefore copied into the build tree, a file rewritten
# only when its content changes, and compiled from there.
function(zelk_stable_headers source_dir name out_var)
  set(destination "${CMAKE_BINARY_DIR}/third_party/${name}")
  file(GLOB_RECURSE headers RELATIVE "${source_dir}" "${source_dir}/*")
  foreach(header IN LISTS headers)
    configure_file("${source_dir}/${header}" "${destination}/${header}" COPYONLY)
  endforeach()
  set(${out_var} "${destination}" PARENT_SCOPE)
endfunction()
