# Run by CPack on the installed files before it packs them: removes from every
# program and library the sections that Debian's own packages strip too (the
# compilers' .comment and .note), which the programs never read.
file(GLOB_RECURSE files LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(file IN LISTS files)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")
    continue()
  endif()
  execute_process(COMMAND "${CPACK_VP_OBJCOPY}" --remove-section=.comment --remove-section=.note "${file}"
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "objcopy could not strip ${file}")
  endif()
endforeach()
