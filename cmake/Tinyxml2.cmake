# tinyxml2: Debian's libtinyxml2-dev natively; for MinGW, Debian's own source package, which
# scripts/setup.sh unpacks at a fixed place outside the repository.
if(WIN32)
  set(SOLMERE_TINYXML2_SOURCE_DIR /usr/local/src/solmere/tinyxml2 CACHE PATH "Unpacked tinyxml2 source package")
  if(NOT EXISTS ${SOLMERE_TINYXML2_SOURCE_DIR}/tinyxml2.cpp)
    message(FATAL_ERROR "No tinyxml2 source in ${SOLMERE_TINYXML2_SOURCE_DIR}: run scripts/setup.sh")
  endif()
  add_library(tinyxml2 STATIC ${SOLMERE_TINYXML2_SOURCE_DIR}/tinyxml2.cpp)
  target_include_directories(tinyxml2 SYSTEM PUBLIC ${SOLMERE_TINYXML2_SOURCE_DIR})
  # Third-party code is not held to our warning flags.
  target_compile_options(tinyxml2 PRIVATE -w)
  add_library(tinyxml2::tinyxml2 ALIAS tinyxml2)
else()
  find_package(tinyxml2 REQUIRED)
endif()
