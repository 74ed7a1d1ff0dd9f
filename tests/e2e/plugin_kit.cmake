# A plug-in author's path end to end: install the package into a fresh prefix, build the template
# plug-in (examples/plugin, as installed) against that prefix alone, list its buttons under the
# installed mirax, press its button twice in one session with every host call traced, and check
# the trace line by line as JSON against the calls mirax counted and the model file.
# Variables (-D): BUILD_DIR (the project's build), WORKDIR, EMULATOR (may be empty), GENERATOR,
# TOOLCHAIN (file name under the package's cmake folder), VERSION (the project's), and the
# suffixes EXE and MODULE (".exe" / ".dll" on Windows).
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORKDIR}")
file(MAKE_DIRECTORY "${WORKDIR}/run")
set(prefix "${WORKDIR}/prefix")
set(mirax "${prefix}/bin/mirax${EXE}")
set(examples "${prefix}/share/csyslist/examples")

# run(NAME STATUS command...): runs a step; `NAME_out` holds its standard output. A step that
# ends otherwise than with STATUS stops the test with its output.
function(run name status)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE got OUTPUT_VARIABLE out ERROR_VARIABLE err
                  WORKING_DIRECTORY "${WORKDIR}/run")
  if(NOT "${got}" STREQUAL "${status}")
    string(JOIN " " command ${ARGN})
    message(FATAL_ERROR "${name}: exit status ${got}, expected ${status}\n${command}\n"
                        "[stdout]\n${out}\n[stderr]\n${err}")
  endif()
  set(${name}_out "${out}" PARENT_SCOPE)
endfunction()

run(install 0 "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}")

# The installed programs tell the package's version; the installed mirax finds the module and
# the text tree beside itself, as in the build tree.
run(mirax_version 0 ${EMULATOR} "${mirax}" --version)
run(tolcmp_version 0 ${EMULATOR} "${prefix}/bin/tolcmp${EXE}" --version)
if(NOT mirax_version_out MATCHES "^mirax ${VERSION}\r?\n$" OR
   NOT tolcmp_version_out MATCHES "^tolcmp ${VERSION}\r?\n$")
  message(FATAL_ERROR "versions: ${mirax_version_out}${tolcmp_version_out}, expected ${VERSION}")
endif()
run(default_module 0 ${EMULATOR} "${mirax}" --model "${examples}/gearbox.json" --name Mount_CS
    --reference HOUSING/Housing_Ref)
if(NOT EXISTS "${WORKDIR}/run/csyspos.txt")
  message(FATAL_ERROR "the installed mirax and module wrote no report:\n${default_module_out}")
endif()

# The template, from the installed copy, against the prefix and nothing else.
set(template "${WORKDIR}/template")
run(configure 0 "${CMAKE_COMMAND}" -S "${examples}/plugin" -B "${template}" -G "${GENERATOR}"
    "-DCMAKE_PREFIX_PATH=${prefix}" "-DCMAKE_TOOLCHAIN_FILE=${prefix}/lib/cmake/csyslist/${TOOLCHAIN}"
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)
run(build 0 "${CMAKE_COMMAND}" --build "${template}")
set(plugin --module "${template}/modelinfo${MODULE}" --text-root "${template}")

run(list_buttons 0 ${EMULATOR} "${mirax}" ${plugin} --model "${examples}/gearbox.json" --list-buttons)
string(REPLACE "\r" "" buttons "${list_buttons_out}")
if(NOT buttons STREQUAL "info/-ModelInfo\n" OR EXISTS "${WORKDIR}/run/modelinfo.txt")
  message(FATAL_ERROR "--list-buttons printed\n${list_buttons_out}\n(expected info/-ModelInfo "
                      "and no press)")
endif()

# Two presses in one session; the model name fails on its second call (the second press).
run(press 0 ${EMULATOR} "${mirax}" ${plugin} --model "${examples}/gearbox.json" --name Label_1
    --press info/-ModelInfo --press info/-ModelInfo --fail KelMdlNameGet:2
    --trace "${WORKDIR}/trace.jsonl" --list-calls)

# The report of the second press, from the model file: the top model's components, the name
# the host failed to give shown as "?".
file(READ "${examples}/gearbox.json" model)
string(JSON top GET "${model}" top)
string(JSON components LENGTH "${model}" models ${top} components)
file(READ "${WORKDIR}/run/modelinfo.txt" report)
string(REPLACE "\r" "" report "${report}")
set(expected "Label: Label_1\nModel: ? (assembly)\nComponents: ${components}\nPress: 2\n")
if(NOT report STREQUAL expected)
  message(FATAL_ERROR "modelinfo.txt:\n${report}\nexpected:\n${expected}")
endif()

# Every trace line is a JSON object with the call's name, arguments, status and whether the
# failure was injected; per function as many lines as --list-calls counts calls.
file(STRINGS "${WORKDIR}/trace.jsonl" trace)
set(failures)
set(names)
set(name_calls 0)
foreach(line IN LISTS trace)
  string(JSON name ERROR_VARIABLE bad GET "${line}" name)
  string(JSON args ERROR_VARIABLE bad_args TYPE "${line}" args)
  string(JSON status ERROR_VARIABLE bad_status TYPE "${line}" status)
  string(JSON injected ERROR_VARIABLE bad_injected GET "${line}" injected)
  if(bad OR bad_args OR bad_status OR bad_injected)
    list(APPEND failures "not a whole call: ${line}")
    continue()
  endif()
  list(APPEND names ${name})
  if(name STREQUAL "KelMdlNameGet")
    math(EXPR name_calls "${name_calls} + 1")
    string(JSON status GET "${line}" status)
    # The first call answers, the second is the injected failure.
    if(name_calls EQUAL 1 AND (injected OR NOT status MATCHES "^(0|KEL_TK_NO_ERROR)$"))
      list(APPEND failures "an answered call traced as ${line}")
    elseif(name_calls EQUAL 2 AND (NOT injected OR status MATCHES "^(0|KEL_TK_NO_ERROR)$"))
      list(APPEND failures "the injected failure traced as ${line}")
    endif()
  elseif(injected)
    list(APPEND failures "a call traced as injected: ${line}")
  endif()
endforeach()
string(FIND "${press_out}" "Host functions called:" at)
set(counted "")
if(at GREATER_EQUAL 0)
  string(SUBSTRING "${press_out}" ${at} -1 counted)
endif()
string(REGEX MATCHALL "\n[A-Za-z_]+ [0-9]+" counted "${counted}")
if(NOT counted)
  list(APPEND failures "--list-calls printed no calls")
endif()
foreach(entry IN LISTS counted)
  string(STRIP "${entry}" entry)
  string(REPLACE " " ";" entry "${entry}")
  list(GET entry 0 name)
  list(GET entry 1 count)
  set(traced ${names})
  list(FILTER traced INCLUDE REGEX "^${name}$")
  list(LENGTH traced traced)
  if(NOT traced EQUAL count)
    list(APPEND failures "${name}: ${traced} trace lines, ${count} calls counted")
  endif()
endforeach()
list(FILTER names INCLUDE REGEX "^KelMessageStringRead$")
if(NOT name_calls EQUAL 2 OR NOT names STREQUAL "KelMessageStringRead;KelMessageStringRead")
  list(APPEND failures "two presses must ask for the label and the model name twice each")
endif()
if(failures)
  string(JOIN "\n" text ${failures})
  message(FATAL_ERROR "${text}\n[stdout]\n${press_out}")
endif()
