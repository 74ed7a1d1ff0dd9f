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
# The installed mirax finds the module and the text tree beside itself, as in the build tree.
run(default ${mirax} ${model} --name Mount_CS --reference HOUSING/Housing_Ref)
run(tolcmp ${EMULATOR} "${prefix}/bin/tolcmp${EXE}" --version)
if(NOT EXISTS "${WORKDIR}/run/csyspos.txt" OR NOT tolcmp_out STREQUAL "tolcmp ${VERSION}\n")
  message(FATAL_ERROR "no report from the installed module, or tolcmp says ${tolcmp_out}")
endif()

set(template "${WORKDIR}/template")
run(configure "${CMAKE_COMMAND}" -S "${prefix}/share/csyslist/examples/plugin" -B "${template}"
    -G "${GENERATOR}" "-DCMAKE_PREFIX_PATH=${prefix}" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
    "-DCMAKE_TOOLCHAIN_FILE=${prefix}/lib/cmake/csyslist/${TOOLCHAIN}")
run(build "${CMAKE_COMMAND}" --build "${template}")
set(plugin --module "${template}/modelinfo${MODULE}" --text-root "${template}" ${model})
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
