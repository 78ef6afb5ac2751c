# GoogleTest: Debian's package natively; built from /usr/src/googletest for MinGW.
if(CMAKE_CROSSCOMPILING)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # Third-party code is not held to our warning flags.
  foreach(t gtest gtest_main gmock gmock_main)
    target_compile_options(${t} PRIVATE -Wno-error)
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# One ctest entry per test case natively; one per executable under an emulator,
# where every start of Wine costs a second.
function(solmere_add_gtest target)
  target_link_libraries(${target} PRIVATE test_support GTest::gtest GTest::gtest_main)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target})
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "SOLMERE_BUILD_DIR=${CMAKE_BINARY_DIR}")
  endif()
endfunction()
