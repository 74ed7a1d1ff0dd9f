# Runs mirax once in a fresh directory and checks its exit status, its complaint and the whole
# report file. Variables (-D):
#   MIRAX, EMULATOR (may be empty), WORKDIR, ARGS ("|"-separated), STDIN (file, optional),
#   STATUS (expected exit status), EXPECTED (expected report, LF line ends, optional),
#   NO_REPORT (ON: no report may exist afterwards), PRESET (file placed as the report first),
#   STDERR_REGEX, STDOUT_REGEX (optional), TRACE_REGEX (optional: the run writes a call trace,
#   which must match), CRLF (ON: the report's line ends are CRLF, unless the expected
#   report is the preset one).
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORKDIR}")
file(MAKE_DIRECTORY "${WORKDIR}")
set(report "${WORKDIR}/csyspos.txt")
if(PRESET)
  file(COPY_FILE "${PRESET}" "${report}")
endif()

string(REPLACE "|" ";" args "${ARGS}")
if(TRACE_REGEX)
  list(APPEND args --trace "${WORKDIR}/trace.jsonl")
endif()
set(input_option)
if(STDIN)
  set(input_option INPUT_FILE "${STDIN}")
endif()
execute_process(
  COMMAND ${EMULATOR} "${MIRAX}" ${args}
  WORKING_DIRECTORY "${WORKDIR}"
  ${input_option}
  RESULT_VARIABLE status
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)

set(failures)
if(NOT "${status}" STREQUAL "${STATUS}")
  list(APPEND failures "exit status ${status}, expected ${STATUS}")
endif()
if(STDERR_REGEX AND NOT err MATCHES "${STDERR_REGEX}")
  list(APPEND failures "the complaint does not match '${STDERR_REGEX}'")
endif()
if(STDOUT_REGEX AND NOT out MATCHES "${STDOUT_REGEX}")
  list(APPEND failures "the output does not match '${STDOUT_REGEX}'")
endif()
if(TRACE_REGEX)
  file(READ "${WORKDIR}/trace.jsonl" trace)
  if(NOT trace MATCHES "${TRACE_REGEX}")
    list(APPEND failures "the trace does not match '${TRACE_REGEX}'\n${trace}")
  endif()
endif()
if(NO_REPORT AND EXISTS "${report}")
  list(APPEND failures "a report was written")
endif()

# Byte comparison; with CRLF every LF of the expected file must arrive as CR LF.
if(EXPECTED)
  if(NOT EXISTS "${report}")
    list(APPEND failures "no report was written")
  else()
    file(READ "${EXPECTED}" want HEX)
    file(READ "${report}" got HEX)
    # A preset report that must stay as it was is compared as it stands.
    if(CRLF AND NOT EXPECTED STREQUAL PRESET)
      string(REGEX MATCHALL ".." bytes "${want}")
      list(TRANSFORM bytes REPLACE "^0a$" "0d0a")
      string(JOIN "" want ${bytes})
    endif()
    if(NOT want STREQUAL got)
      file(READ "${EXPECTED}" want_text)
      file(READ "${report}" got_text)
      list(APPEND failures "the report differs from ${EXPECTED}\n--- expected\n${want_text}\n--- got\n${got_text}\n---")
    endif()
  endif()
endif()

if(failures)
  string(JOIN "\n" text ${failures})
  message(FATAL_ERROR "${text}\n[stdout]\n${out}\n[stderr]\n${err}")
endif()
