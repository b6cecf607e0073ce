# Manual pages made by help2man from a program's --help and --version text
# and the extra sections in docs/man/PROGRAM.h2m, compressed for install.
find_program(RVX_HELP2MAN help2man)
find_program(RVX_GZIP gzip)

# rvx_add_manual_page(TARGET NAME "what it is" COMPONENT component)
function(rvx_add_manual_page target)
  cmake_parse_arguments(PAGE "" "NAME;COMPONENT" "" ${ARGN})
  if(NOT RVX_HELP2MAN OR NOT RVX_GZIP)
    message(STATUS "help2man or gzip is missing: no manual page for ${target}")
    return()
  endif()
  set(extra ${PROJECT_SOURCE_DIR}/docs/man/${target}.h2m)
  set(page ${CMAKE_BINARY_DIR}/man/${target}.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${RVX_HELP2MAN} --no-info --no-discard-stderr --section=1 --name=${PAGE_NAME}
            --include=${extra} --output=${page} $<TARGET_FILE:${target}>
    COMMAND ${RVX_GZIP} -9nf ${page}
    DEPENDS ${target} ${extra}
    COMMENT "Manual page of ${target}"
    VERBATIM)
  add_custom_target(${target}-manual-page ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${PAGE_COMPONENT})
endfunction()
