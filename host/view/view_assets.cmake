# The page `--view` writes is built from these files, embedded in mirax at build time so that every
# platform writes the same bytes: the page's own template, script and style (this folder), and
# three.js with its orbit controls from Debian's libjs-three (scripts/setup installs it).
set(KEL_THREE_DIR /usr/share/javascript/three CACHE PATH "Where libjs-three installs three.js")
set(view_inputs page=${CMAKE_CURRENT_LIST_DIR}/page.html script=${CMAKE_CURRENT_LIST_DIR}/view.js
    style=${CMAKE_CURRENT_LIST_DIR}/view.css three=${KEL_THREE_DIR}/three.min.js
    controls=${KEL_THREE_DIR}/examples/js/controls/OrbitControls.js)
set(view_files)
foreach(input ${view_inputs})
  string(REGEX REPLACE "^[a-z]+=" "" file "${input}")
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "${file} is missing: scripts/setup installs libjs-three")
  endif()
  list(APPEND view_files ${file})
endforeach()
string(JOIN "|" view_list ${view_inputs})
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/view_assets.cpp
  COMMAND ${CMAKE_COMMAND} "-DASSETS=${view_list}" -DOUT=${CMAKE_CURRENT_BINARY_DIR}/view_assets.cpp
          -P ${CMAKE_CURRENT_LIST_DIR}/embed.cmake
  DEPENDS ${view_files} ${CMAKE_CURRENT_LIST_DIR}/embed.cmake
  COMMENT "Embedding the page's assets"
  VERBATIM)
target_sources(mirax_host PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/view_assets.cpp)
