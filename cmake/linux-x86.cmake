# Native 32-bit build with the system compilers in -m32 mode.
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# Flags given on the command line (-DCMAKE_CXX_FLAGS=-Wall) replace the _INIT ones: -m32 is put in
# front of them, so that the build stays 32-bit.
foreach(flags C_FLAGS CXX_FLAGS EXE_LINKER_FLAGS SHARED_LINKER_FLAGS MODULE_LINKER_FLAGS)
  set(CMAKE_${flags}_INIT "-m32")
  if(DEFINED CACHE{CMAKE_${flags}} AND NOT " ${CMAKE_${flags}} " MATCHES " -m32 ")
    set_property(CACHE CMAKE_${flags} PROPERTY VALUE "-m32 ${CMAKE_${flags}}")
  endif()
endforeach()
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
