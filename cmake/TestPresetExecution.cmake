# Prints "JOBS TIMEOUT" of a test preset in CMakePresets.json, so that the presets stay the
# one place for ctest's parallelism and timeouts (scripts/test.sh runs ctest on build folders
# of its own choosing, where a preset cannot go):
#   cmake -DPRESET=native -P cmake/TestPresetExecution.cmake
file(READ ${CMAKE_CURRENT_LIST_DIR}/../CMakePresets.json presets)
string(JSON count LENGTH "${presets}" testPresets)
math(EXPR last "${count} - 1")
foreach(index RANGE ${last})
  string(JSON name GET "${presets}" testPresets ${index} name)
  if(name STREQUAL PRESET)
    string(JSON jobs GET "${presets}" testPresets ${index} execution jobs)
    string(JSON timeout GET "${presets}" testPresets ${index} execution timeout)
    execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${jobs} ${timeout}")
    return()
  endif()
endforeach()
message(FATAL_ERROR "CMakePresets.json has no test preset \"${PRESET}\"")
