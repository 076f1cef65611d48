# Run by CPack on its staging folder: strips the ELF files as Debian's
# dh_strip does (debugging symbols and the .comment and .note sections out;
# shared objects keep only the symbols they need).
find_program(zul_strip strip REQUIRED)
find_program(zul_file file REQUIRED)
file(GLOB_RECURSE candidates LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(f IN LISTS candidates)
  if(IS_SYMLINK "${f}")
    continue()
  endif()
  execute_process(COMMAND "${zul_file}" -b "${f}" OUTPUT_VARIABLE kind)
  if(kind MATCHES "ELF .*shared object")
    set(how --strip-unneeded)
  elseif(kind MATCHES "ELF .*executable")
    set(how --strip-all)
  else()
    continue()
  endif()
  execute_process(COMMAND "${zul_strip}" --remove-section=.comment --remove-section=.note ${how} "${f}"
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "strip failed on ${f}")
  endif()
endforeach()
