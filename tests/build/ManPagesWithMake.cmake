# Configures the project with the Makefile generator in a folder of its own
# and builds the man pages only: the generator most people type, which unlike
# Ninja does not create an output's folder for it.
# cmake -DSOURCE=<source folder> -DWORK=<scratch folder> -P ManPagesWithMake.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND "${CMAKE_COMMAND}" -S "${SOURCE}" -B "${WORK}" -G "Unix Makefiles"
                        -DBUILD_TESTING=OFF -DZUL_BENCH=OFF
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "configuring with Unix Makefiles failed:\n${out}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${WORK}" --target zul_man
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "building the man pages with make failed:\n${out}")
endif()
foreach(page qorvhost.1.gz VelundZUL.1.gz)
  if(NOT EXISTS "${WORK}/man/${page}")
    message(FATAL_ERROR "make reported success but ${page} is missing")
  endif()
endforeach()
file(REMOVE_RECURSE "${WORK}")
