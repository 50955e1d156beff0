# Installs the build into a fresh prefix and checks what arrived: the
# programs in the program directory, the manual pages (the same bytes as
# docs/man) in man1, the kit's links in libexec/varnek-kit, nothing else;
# and the installed client and kit run.
#
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DPREFIX=... -DBINDIR=bin
#         -DMANDIR=share/man -P install_check.cmake

foreach(var BUILD_DIR SOURCE_DIR PREFIX BINDIR MANDIR LIBEXECDIR)
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
  "${BINDIR}/tvkit"
  "${BINDIR}/tvsession"
  "${BINDIR}/vkc"
  "${BINDIR}/vkhealth"
  "${BINDIR}/vknotify"
  "${BINDIR}/vks"
  "${MANDIR}/man1/query_logfile.1"
  "${MANDIR}/man1/tvkit.1"
  "${MANDIR}/man1/tvsession.1"
  "${MANDIR}/man1/vkc.1"
  "${MANDIR}/man1/vkhealth.1"
  "${MANDIR}/man1/vknotify.1"
  "${MANDIR}/man1/vks.1")
foreach(word peektx waitcap setreg rasdup obsdup meshdup rascat obscat meshcat rasvue imgdir
             seqb seqs palx zrng scrnset vwf solday vkc vks)
  list(APPEND expected "${LIBEXECDIR}/varnek-kit/${word}.k")
endforeach()
file(GLOB_RECURSE installed RELATIVE "${PREFIX}" "${PREFIX}/*")
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed files:\n  ${installed}\nexpected:\n  ${expected}")
endif()

foreach(page vkc.1 vks.1 query_logfile.1 vkhealth.1 vknotify.1 tvkit.1 tvsession.1)
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
expect_run(2 "^Invalid VKS command: NONE\n$" "${PREFIX}/${BINDIR}/vks")
expect_run(1 "Usage:  query_logfile input-file" "${PREFIX}/${BINDIR}/query_logfile")
# A link runs the kit as its word: the daylight program of a known day.
expect_run(0 "/" "${PREFIX}/${LIBEXECDIR}/varnek-kit/solday.k" 2024172 40.0 75.0)
expect_run(0 "^VARNEK-II - Workstation" "${PREFIX}/${LIBEXECDIR}/varnek-kit/vkc.k" VERSION)
file(REMOVE_RECURSE "${PREFIX}")
