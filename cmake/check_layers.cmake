# Checks that the layers point one way, from the quoted includes of every source and header:
#   base definitions (platform/kel_base.h) <- platform <- runtime <- binding <- app, host, tools
# A file includes only its own layer and the layers below; app, host and tools each include
# only themselves below the binding. Inside the runtime, the foundation folders (traps and
# reports, memory, xarrays, text, ordering) use one another and nothing else of the runtime;
# every other runtime folder builds on them, and no two of those include each other, directly
# or around a cycle.
# Usage: cmake -DSOURCE_DIR=<tree> -P check_layers.cmake   (fails with one line per violation)
cmake_minimum_required(VERSION 3.25)
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "check_layers: SOURCE_DIR is not set")
endif()

set(foundation diag mem xar text order)

# Includes that break the order today and are being removed; each entry is
# "<including file>|<included file>". An entry that no longer occurs fails the check, so that
# the list only shrinks.
set(known_exceptions)

# The layer of a project path: base, platform, runtime, binding, or the top folder for app,
# host and tools; empty for anything else.
function(layer_of path out)
  string(REGEX MATCH "^[^/]+" top "${path}")
  if(path STREQUAL "platform/kel_base.h")
    set(${out} base PARENT_SCOPE)
  elseif(top MATCHES "^(platform|runtime|binding|app|host|tools)$")
    set(${out} ${top} PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

function(rank_of layer out)
  set(ranks base 0 platform 1 runtime 2 binding 3 app 4 host 4 tools 4)
  list(FIND ranks ${layer} i)
  math(EXPR i "${i} + 1")
  list(GET ranks ${i} r)
  set(${out} ${r} PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} LIST_DIRECTORIES false
     ${SOURCE_DIR}/platform/* ${SOURCE_DIR}/runtime/* ${SOURCE_DIR}/binding/*
     ${SOURCE_DIR}/app/* ${SOURCE_DIR}/host/* ${SOURCE_DIR}/tools/*)
list(FILTER files INCLUDE REGEX "\\.(h|hpp|c|cpp|def|inc)$")
list(SORT files)

set(violations "")
set(seen_exceptions "")
set(runtime_edges "")
foreach(file ${files})
  layer_of(${file} from_layer)
  rank_of(${from_layer} from_rank)
  get_filename_component(file_dir ${file} DIRECTORY)
  file(STRINGS ${SOURCE_DIR}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line ${lines})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" included "${line}")
    # A name relative to the including file's folder, or one from the project root.
    if(EXISTS ${SOURCE_DIR}/${file_dir}/${included})
      set(target "${file_dir}/${included}")
      cmake_path(NORMAL_PATH target)
    else()
      set(target "${included}")
    endif()
    layer_of(${target} to_layer)
    if(to_layer STREQUAL "")
      continue()
    endif()
    rank_of(${to_layer} to_rank)
    set(bad FALSE)
    if(from_layer STREQUAL "base")
      set(bad TRUE)  # the base definitions include nothing of the project
    elseif(to_rank GREATER from_rank)
      set(bad TRUE)
    elseif(to_rank EQUAL 4 AND NOT to_layer STREQUAL from_layer)
      set(bad TRUE)  # app, host and tools stand side by side
    endif()
    if(bad)
      if("${file}|${target}" IN_LIST known_exceptions)
        list(APPEND seen_exceptions "${file}|${target}")
      else()
        list(APPEND violations "${file} (${from_layer}) includes ${target} (${to_layer})")
      endif()
    endif()
    if(from_layer STREQUAL "runtime" AND to_layer STREQUAL "runtime")
      string(REGEX REPLACE "^runtime/([^/]+)/.*" "\\1" from_folder "${file}")
      string(REGEX REPLACE "^runtime/([^/]+)/.*" "\\1" to_folder "${target}")
      if(NOT from_folder STREQUAL to_folder)
        list(APPEND runtime_edges "${from_folder}>${to_folder}")
        if(from_folder IN_LIST foundation AND NOT to_folder IN_LIST foundation)
          list(APPEND violations
               "${file} (foundation folder ${from_folder}) includes ${target} (runtime/${to_folder})")
        endif()
      endif()
    endif()
  endforeach()
endforeach()

foreach(exception ${known_exceptions})
  if(NOT exception IN_LIST seen_exceptions)
    list(APPEND violations
         "the known exception \"${exception}\" no longer occurs: delete it from this check")
  endif()
endforeach()

# Cycles among the runtime folders above the foundation: the foundation counts as one folder,
# and folders are taken away while some folder includes no folder left, or is included by none;
# what stays is on a cycle (or between two).
list(REMOVE_DUPLICATES runtime_edges)
set(edges "")
set(nodes "")
foreach(edge ${runtime_edges})
  string(REPLACE ">" ";" pair "${edge}")
  list(GET pair 0 from)
  list(GET pair 1 to)
  if(from IN_LIST foundation)
    set(from foundation)
  endif()
  if(to IN_LIST foundation)
    set(to foundation)
  endif()
  if(NOT from STREQUAL to)
    list(APPEND edges "${from}>${to}")
    list(APPEND nodes ${from} ${to})
  endif()
endforeach()
list(REMOVE_DUPLICATES edges)
list(REMOVE_DUPLICATES nodes)
set(progress TRUE)
while(progress)
  set(progress FALSE)
  foreach(node ${nodes})
    set(out_edges ${edges})
    set(in_edges ${edges})
    list(FILTER out_edges INCLUDE REGEX "^${node}>")
    list(FILTER in_edges INCLUDE REGEX ">${node}$")
    if(NOT out_edges OR NOT in_edges)
      list(REMOVE_ITEM nodes ${node})
      list(FILTER edges EXCLUDE REGEX "(^${node}>|>${node}$)")
      set(progress TRUE)
    endif()
  endforeach()
endwhile()
foreach(edge ${edges})
  string(REPLACE ">" " includes " edge "${edge}")
  list(APPEND violations "runtime folders on a cycle: ${edge}")
endforeach()

if(violations)
  list(LENGTH violations count)
  string(REPLACE ";" "\n  " text "${violations}")
  message(FATAL_ERROR "The layers do not point one way (${count}):\n  ${text}")
endif()
list(LENGTH files count)
message(STATUS "Layer order holds (${count} files)")
