# Shared build helpers: sanitizers, GoogleTest on both platforms, and one test program per folder.
include(${CMAKE_CURRENT_LIST_DIR}/csyslistPlugin.cmake)

option(KEL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(KEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Header-only libraries from /usr/include (JSON for the host simulator, CLI11 for command lines),
# seen by the Windows build through a folder of links so that glibc's own headers stay out of its
# way. A target that uses them links `kel_header_links`.
set(KEL_HEADER_LINKS ${PROJECT_BINARY_DIR}/header-links)
file(MAKE_DIRECTORY ${KEL_HEADER_LINKS})
foreach(header_dir nlohmann CLI)
  if(EXISTS /usr/include/${header_dir} AND NOT EXISTS ${KEL_HEADER_LINKS}/${header_dir})
    file(CREATE_LINK /usr/include/${header_dir} ${KEL_HEADER_LINKS}/${header_dir} SYMBOLIC)
  endif()
endforeach()
if(NOT EXISTS ${KEL_HEADER_LINKS}/CLI/CLI.hpp)
  message(FATAL_ERROR "CLI11 is missing (Debian libcli11-dev): run scripts/setup")
endif()
add_library(kel_header_links INTERFACE)
target_include_directories(kel_header_links SYSTEM INTERFACE ${KEL_HEADER_LINKS})

# kel_public_headers(VAR): the public headers, relative to the source root: the base definitions
# and every header that declares its interface inside KEL_BEGIN_C. They are installed, and compiled
# as C by tests/c_headers.
function(kel_public_headers var)
  file(GLOB candidates CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/runtime/*.h ${PROJECT_SOURCE_DIR}/runtime/*/*.h
       ${PROJECT_SOURCE_DIR}/platform/*.h ${PROJECT_SOURCE_DIR}/binding/*.h)
  list(SORT candidates)
  set(headers "")
  foreach(header ${candidates})
    file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${header})
    file(READ ${header} text)
    if(relative STREQUAL "platform/kel_base.h" OR text MATCHES "KEL_BEGIN_C")
      list(APPEND headers ${relative})
    endif()
  endforeach()
  set(${var} ${headers} PARENT_SCOPE)
endfunction()

macro(kel_find_gtest)
  if(NOT TARGET GTest::gtest_main)
    if(WIN32 OR KEL_GTEST_FROM_SOURCE)
      set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
      set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
      set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
      add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
      # Its warnings are not ours to fix.
      foreach(gtest_target gtest gtest_main gmock gmock_main)
        target_compile_options(${gtest_target} PRIVATE -Wno-error)
      endforeach()
    else()
      find_package(GTest REQUIRED)
    endif()
  endif()
endmacro()

# kel_add_test(NAME src... [LIBS lib...]): one GoogleTest program registered as one ctest test;
# each of its tests runs in a temporary folder of its own (tests/support/test_main.cpp).
function(kel_add_test name)
  cmake_parse_arguments(KT "" "" "LIBS" ${ARGN})
  kel_find_gtest()
  add_executable(${name} ${KT_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${KT_LIBS} kelrt kel_test_support kel_test_main GTest::gtest GTest::gmock)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "WINEDEBUG=-all")
endfunction()

# kel_add_test_objects(NAME src...): test sources compiled once for every program that runs them,
# which lists $<TARGET_OBJECTS:NAME> among its sources.
function(kel_add_test_objects name)
  kel_find_gtest()
  add_library(${name} OBJECT ${ARGN})
  target_link_libraries(${name} PRIVATE kelrt kel_test_support GTest::gtest GTest::gmock)
endfunction()

if(KEL_BUILD_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address)
endif()
