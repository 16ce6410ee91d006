# text_layout(TARGET LIST): the code a run of the host executes, named in
# LIST (input sections of TARGET, one a line, as tools/text-layout writes
# them from profiled runs: a function's own section, or ARCHIVE:MEMBER(.text)
# for a library built without one section per function), goes first in TARGET's code and together, ahead
# of the code a run seldom or never needs (other modes, agentctl's
# commands, error paths). The kernel maps a program's code into its
# resident set 64 KiB around each page it touches, so code that runs
# together keeps every run's resident memory small. A name that is no
# longer in the code is passed over, and the rest of the code keeps its
# order. The link also writes TARGET's map (TARGET.map here), from which
# tools/text-layout makes LIST again.
#
# The linker's own script for the target is taken (from the compiler
# driver, as it would link the target) and the list goes at the top of its
# .text: the code stays in one .text section, as debuggers and profilers
# expect. A linker that shows no script (not the GNU linker) links as
# usual.
function(text_layout target list)
  get_target_property(type ${target} TYPE)
  string(TOUPPER "${CMAKE_BUILD_TYPE}" config)
  set(kind "")
  set(flags "${CMAKE_EXE_LINKER_FLAGS} ${CMAKE_EXE_LINKER_FLAGS_${config}}")
  if(type STREQUAL "SHARED_LIBRARY")
    set(kind -shared)
    set(flags "${CMAKE_SHARED_LINKER_FLAGS} ${CMAKE_SHARED_LINKER_FLAGS_${config}}")
  endif()
  # The script the linker picks depends on the options (-z relro, -z now).
  separate_arguments(flags UNIX_COMMAND "${flags}")
  set(probe ${CMAKE_BINARY_DIR}/text-layout-probe)
  file(WRITE ${probe}.c "")
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} ${kind} ${flags} -nostdlib -Wl,--verbose -x c ${probe}.c
                          -o ${probe}${kind}.out
                  OUTPUT_VARIABLE verbose ERROR_QUIET RESULT_VARIABLE rc)
  string(FIND "${verbose}" "==================================================" first)
  string(FIND "${verbose}" "==================================================" last REVERSE)
  set(layout_rule "")
  if(first GREATER_EQUAL 0 AND last GREATER first)
    math(EXPR from "${first} + 50")
    math(EXPR length "${last} - ${from}")
    string(SUBSTRING "${verbose}" ${from} ${length} script)
    string(REGEX MATCH "\n *\\.text *:[ \n]*{\n" text_rule "${script}")
  endif()
  if(NOT text_rule)
    message(STATUS "${target}: the linker shows no script; its code keeps the linker's order")
    target_link_options(${target} PRIVATE "LINKER:-Map=${CMAKE_CURRENT_BINARY_DIR}/${target}.map")
    return()
  endif()
  file(STRINGS ${list} lines)
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line MATCHES "^\\.text\\.[A-Za-z0-9_.]+$")
      string(APPEND layout_rule "    *(${line})\n")
    elseif(line MATCHES "^[A-Za-z0-9_.+-]+\\.a:[A-Za-z0-9_.+-]+\\(\\.text\\)$")
      # The code of an archive member built without a section per function.
      string(APPEND layout_rule "    *${line}\n")
    endif()
  endforeach()
  string(REPLACE "${text_rule}" "${text_rule}    /* ${list} */\n${layout_rule}" script "${script}")
  set(ld ${CMAKE_CURRENT_BINARY_DIR}/${target}-layout.ld)
  # Written only when it changes, so that a new configure does not relink.
  file(CONFIGURE OUTPUT ${ld} CONTENT "${script}" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list})
  target_link_options(${target} PRIVATE "LINKER:-T,${ld}"
                      "LINKER:-Map=${CMAKE_CURRENT_BINARY_DIR}/${target}.map")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${ld})
endfunction()
