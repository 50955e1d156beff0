# Installs the build into a fresh prefix and checks what arrived: the three
# programs in the program directory, the three manual pages (the same bytes
# as docs/man) in man1, nothing else; and the installed client runs.
#
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DPREFIX=... -DBINDIR=bin
#         -DMANDIR=share/man -P install_check.cmake

foreach(var BUILD_DIR SOURCE_DIR PREFIX BINDIR MANDIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "install_check: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}${err}")
endif()

set(expected
  "${BINDIR}/query_logfile"
  "${BINDIR}/vkc"
  "${BINDIR}/vks"
  "${MANDIR}/man1/query_logfile.1"
  "${MANDIR}/man1/vkc.1"
  "${MANDIR}/man1/vks.1")
file(GLOB_RECURSE installed RELATIVE "${PREFIX}" "${PREFIX}/*")
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed files:\n  ${installed}\nexpected:\n  ${expected}")
endif()

foreach(page vkc.1 vks.1 query_logfile.1)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files
    "${SOURCE_DIR}/docs/man/${page}" "${PREFIX}/${MANDIR}/man1/${page}" RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    message(FATAL_ERROR "the installed ${page} is not docs/man/${page}")
  endif()
endforeach()

# The installed programs run, in a scratch directory.
set(scratch "${PREFIX}/scratch")
file(MAKE_DIRECTORY "${scratch}")
function(expect_run status output)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${scratch}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc STREQUAL "${status}" OR NOT out MATCHES "${output}")
    message(FATAL_ERROR "installed ${ARGN} gave status ${rc}:\n${out}${err}")
  endif()
endfunction()
expect_run(0 "^VARNEK-II - Workstation \\(Version 1\\.1\\) \\.\\.\\.\n$" "${PREFIX}/${BINDIR}/vkc" VERSION)
expect_run(0 "^Invalid VKS command: NONE\n$" "${PREFIX}/${BINDIR}/vks")
expect_run(1 "Usage:  query_logfile input-file" "${PREFIX}/${BINDIR}/query_logfile")
file(REMOVE_RECURSE "${PREFIX}")
