# csyslist_plugin_module(TARGET): makes the shared library TARGET a plug-in module the host can
# load: no "lib" prefix, only the two entry points exported (every other symbol hidden), no MinGW
# runtime DLL needed on Windows, every symbol resolved at link time on Linux. The project's own
# module uses it, and so does a plug-in built against the installed package.
function(csyslist_plugin_module target)
  set_target_properties(${target} PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden
                        C_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  if(WIN32)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++
                        -Wl,--exclude-all-symbols -Wl,-Bstatic)
    target_link_libraries(${target} PRIVATE -Wl,-Bstatic winpthread)
  elseif(NOT KEL_BUILD_FUZZ)  # clang leaves the sanitizer runtime to the loading program
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()
