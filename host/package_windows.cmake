# Builds the Windows distribution zip: test.dll, mirax.exe, tolcmp.exe, the text tree and the examples.
# Variables (-D): BUILD_DIR (the windows-x86 build), SOURCE_DIR (the repository), ZIP (the result),
# STRIP (optional: the strip program of the toolchain).
cmake_minimum_required(VERSION 3.25)

get_filename_component(zip_name "${ZIP}" NAME_WE)
set(stage_root "${BUILD_DIR}/package")
set(stage "${stage_root}/${zip_name}")
file(REMOVE_RECURSE "${stage_root}")
file(MAKE_DIRECTORY "${stage}/text")

file(COPY "${BUILD_DIR}/test.dll" "${BUILD_DIR}/mirax.exe" "${BUILD_DIR}/tolcmp.exe" DESTINATION "${stage}")
if(STRIP)  # the shipped binaries carry no debugging information
  execute_process(COMMAND "${STRIP}" --strip-debug "${stage}/test.dll" "${stage}/mirax.exe" "${stage}/tolcmp.exe")
endif()
# Only the language folders of the text tree.
file(GLOB languages LIST_DIRECTORIES true "${SOURCE_DIR}/text/*")
foreach(language ${languages})
  if(IS_DIRECTORY "${language}")
    file(COPY "${language}" DESTINATION "${stage}/text")
  endif()
endforeach()
file(COPY "${SOURCE_DIR}/examples" DESTINATION "${stage}")
if(EXISTS "${SOURCE_DIR}/README.md")
  file(COPY "${SOURCE_DIR}/README.md" DESTINATION "${stage}")
endif()

get_filename_component(zip_dir "${ZIP}" DIRECTORY)
file(MAKE_DIRECTORY "${zip_dir}")
file(REMOVE "${ZIP}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${ZIP}" --format=zip "${zip_name}"
  WORKING_DIRECTORY "${stage_root}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "could not write ${ZIP}")
endif()
message(STATUS "Wrote ${ZIP}")
