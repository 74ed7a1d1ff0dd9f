# A plug-in author's path: install the package into a fresh prefix, build the installed template
# against it alone, list its buttons, press its button twice in one session (the model name
# failing on the second press), check the report and every trace line as JSON. Variables (-D):
# BUILD_DIR, WORKDIR, EMULATOR, GENERATOR, TOOLCHAIN (a file of the package), VERSION, EXE, MODULE.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${WORKDIR}")
file(MAKE_DIRECTORY "${WORKDIR}/run")
set(prefix "${WORKDIR}/prefix")
set(mirax ${EMULATOR} "${prefix}/bin/mirax${EXE}")
set(model --model "${prefix}/share/csyslist/examples/gearbox.json")

# run(NAME command...): a step that must end with status 0; its standard output in NAME_out.
function(run name)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err
                  WORKING_DIRECTORY "${WORKDIR}/run")
  if(NOT status STREQUAL "0")
    message(FATAL_ERROR "${name}: status ${status}\n${ARGN}\n[stdout]\n${out}\n[stderr]\n${err}")
  endif()
  string(REPLACE "\r" "" out "${out}")
  set(${name}_out "${out}" PARENT_SCOPE)
endfunction()

run(install "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}")
# The installed mirax needs only the C and C++ runtimes (and the sanitizers' in that build): the
# STEP reader and OCCT are loaded when a STEP file is read.
if(EXE STREQUAL "")
  run(needed readelf -d "${prefix}/bin/mirax")
  string(REGEX MATCHALL "NEEDED[^[]*\\[[^]]+\\]" needed "${needed_out}")
  list(FILTER needed EXCLUDE REGEX "\\[lib(c|m|stdc\\+\\+|gcc_s|asan|ubsan)\\.so\\.[0-9]+\\]")
  if(needed)
    message(FATAL_ERROR "the installed mirax needs more than the C and C++ runtimes: ${needed}")
  endif()
endif()
# The installed mirax finds the module and the text tree beside itself, as in the build tree.
run(default ${mirax} ${model} --name Mount_CS --reference HOUSING/Housing_Ref)
run(tolcmp ${EMULATOR} "${prefix}/bin/tolcmp${EXE}" --version)
if(NOT EXISTS "${WORKDIR}/run/csyspos.txt" OR NOT tolcmp_out STREQUAL "tolcmp ${VERSION}\n")
  message(FATAL_ERROR "no report from the installed module, or tolcmp says ${tolcmp_out}")
endif()

# The template's recipe, the commands of its CMakeLists.txt comment run as they stand in a copy
# of it (with <prefix>, the platform's toolchain, module suffix and emulator filled in, and
# -DCMAKE_CXX_FLAGS=-Wall added: the build must stay 32-bit): configure, build, list the buttons
# without --text-root and without a model, run the template's own test.
file(COPY "${prefix}/share/csyslist/examples/plugin/" DESTINATION "${WORKDIR}/recipe")
file(STRINGS "${WORKDIR}/recipe/CMakeLists.txt" recipe REGEX "^#   ")
get_filename_component(cmake_bin "${CMAKE_COMMAND}" DIRECTORY)
set(commands 0)
foreach(line IN LISTS recipe)
  string(REGEX REPLACE "^#   " "" line "${line}")
  string(REPLACE "<prefix>/bin/mirax" "${EMULATOR} ${prefix}/bin/mirax${EXE}" line "${line}")
  string(STRIP "${line}" line)
  string(REPLACE "<prefix>" "${prefix}" line "${line}")
  string(REPLACE "linux-x86.cmake" "${TOOLCHAIN}" line "${line}")
  string(REPLACE "modelinfo.so" "modelinfo${MODULE}" line "${line}")
  string(REGEX REPLACE "^(cmake|ctest) " "${cmake_bin}/\\1 " line "${line}")
  if(line MATCHES " -S ")
    string(APPEND line " -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_CXX_FLAGS=-Wall")
  endif()
  separate_arguments(command UNIX_COMMAND "${line}")
  execute_process(COMMAND ${command} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out
                  WORKING_DIRECTORY "${WORKDIR}/recipe")
  if(NOT status STREQUAL "0")
    message(FATAL_ERROR "the template's command\n${line}\nended with ${status}:\n${out}")
  endif()
  math(EXPR commands "${commands} + 1")
endforeach()
string(REPLACE "\r" "" out "${out}")
if(NOT commands EQUAL 4 OR NOT out MATCHES "modelinfo_press .* Passed.*modelinfo_c_press .* Passed")
  message(FATAL_ERROR "${commands} commands in the template's comment; the last said\n${out}")
endif()
# The README's recipe for the template, its shell block run as it stands with P set to the prefix
# (Linux: the block is a shell script).
if(EXE STREQUAL "")
  file(READ "${prefix}/share/doc/csyslist/README.md" readme)
  string(REGEX MATCH "\nP=~/csyslist\n[^`]*" block "${readme}")
  string(REPLACE "P=~/csyslist" "P='${prefix}'" block "${block}")
  file(MAKE_DIRECTORY "${WORKDIR}/readme")
  file(WRITE "${WORKDIR}/readme/recipe.sh" "set -e${block}")
  execute_process(COMMAND sh recipe.sh RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out
                  WORKING_DIRECTORY "${WORKDIR}/readme")
  if(NOT status STREQUAL "0" OR NOT out MATCHES "Press: 2\n.*modelinfo_press .* Passed")
    message(FATAL_ERROR "the README's recipe ended with ${status}:\n${block}\n${out}")
  endif()
endif()
set(template "${WORKDIR}/recipe/build")
set(plugin --module "${template}/modelinfo${MODULE}" ${model})
run(list ${mirax} ${plugin} --list-buttons)
run(press ${mirax} ${plugin} --name Label_1 --press info/-ModelInfo --press info/-ModelInfo
    --fail KelMdlNameGet:2 --trace "${WORKDIR}/trace.jsonl" --list-calls)

# The report of the second press, from the model file: the name the host failed to give is "?".
file(READ "${prefix}/share/csyslist/examples/gearbox.json" json)
string(JSON top GET "${json}" top)
string(JSON components LENGTH "${json}" models ${top} components)
file(READ "${WORKDIR}/run/modelinfo.txt" report)
string(REPLACE "\r" "" report "${report}")
if(NOT list_out STREQUAL "info/-ModelInfo\n" OR NOT report STREQUAL
   "Label: Label_1\nModel: ? (assembly)\nComponents: ${components}\nPress: 2\n")
  message(FATAL_ERROR "--list-buttons printed\n${list_out}\nthe report is\n${report}")
endif()
# The template in C answers the same session with the same report.
file(REMOVE "${WORKDIR}/run/modelinfo.txt")
run(press_c ${mirax} --module "${template}/modelinfo_c${MODULE}" ${model} --name Label_1
    --press info/-ModelInfo --press info/-ModelInfo --fail KelMdlNameGet:2)
file(READ "${WORKDIR}/run/modelinfo.txt" report_c)
string(REPLACE "\r" "" report_c "${report_c}")
if(NOT report_c STREQUAL report)
  message(FATAL_ERROR "the C template's report is\n${report_c}")
endif()

# Every trace line is a JSON object (string(JSON) stops the test on any other); per function as
# many lines as --list-calls counts calls; only the second KelMdlNameGet is injected.
file(STRINGS "${WORKDIR}/trace.jsonl" trace)
set(total 0)
foreach(line IN LISTS trace)
  string(JSON name GET "${line}" name)
  string(JSON args TYPE "${line}" args)
  string(JSON status GET "${line}" status)
  string(JSON injected GET "${line}" injected)
  if(injected AND (NOT name STREQUAL "KelMdlNameGet" OR status EQUAL 0))
    message(FATAL_ERROR "an injected call that should not be: ${line}")
  endif()
  list(APPEND outcomes_${name} ${injected})
endforeach()
string(REGEX REPLACE ".*Host functions called:\n" "" counted "${press_out}")
string(REGEX MATCHALL "[A-Za-z_]+ [0-9]+" counted "${counted}")
foreach(entry IN LISTS counted)
  string(REPLACE " " ";" entry "${entry}")
  list(POP_FRONT entry name count)
  list(LENGTH outcomes_${name} traced)
  math(EXPR total "${total} + ${count}")
  if(NOT traced EQUAL count)
    message(FATAL_ERROR "${name}: ${traced} trace lines, ${count} calls counted")
  endif()
endforeach()
list(LENGTH trace lines)
if(NOT lines EQUAL total OR NOT outcomes_KelMdlNameGet MATCHES "^(OFF|false);(ON|true)$")
  message(FATAL_ERROR "${lines} trace lines, ${total} calls; KelMdlNameGet: ${outcomes_KelMdlNameGet}")
endif()
