# Preprocesses a one-line file that includes HEADER with the include folders of a
# library and checks that the header is found, or that it is not.
# cmake -DCOMPILER=<c++> -DINCLUDES=<dir|dir...> -DHEADER=<room/File.h> -DEXPECT=found|missing
#       -DWORK=<scratch folder> -P Layering.cmake
file(MAKE_DIRECTORY "${WORK}")
string(MAKE_C_IDENTIFIER "${HEADER}" name)
set(probe "${WORK}/${name}.cpp")
file(WRITE "${probe}" "#include \"${HEADER}\"\n")
string(REPLACE "|" ";" dirs "${INCLUDES}")
list(TRANSFORM dirs PREPEND "-I")
execute_process(COMMAND "${COMPILER}" -std=c++20 -E ${dirs} "${probe}" -o "${WORK}/${name}.i"
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(EXPECT STREQUAL "found" AND NOT rc EQUAL 0)
  message(FATAL_ERROR "${HEADER} should be reachable but is not:\n${err}")
endif()
if(EXPECT STREQUAL "missing" AND NOT err MATCHES "${HEADER}: No such file")
  message(FATAL_ERROR "${HEADER} should not be reachable (exit ${rc}):\n${err}")
endif()
