# libsodium (Ed25519 signatures, SHA-256): Debian's libsodium-dev natively; for MinGW, Debian's
# own source package, which scripts/setup.sh builds per Windows target into a fixed prefix.
if(WIN32)
  set(SOLMERE_SODIUM_PREFIX /usr/local/lib/solmere/sodium-${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32
      CACHE PATH "libsodium built for this Windows target")
  if(NOT EXISTS ${SOLMERE_SODIUM_PREFIX}/lib/libsodium.a)
    message(FATAL_ERROR "No libsodium in ${SOLMERE_SODIUM_PREFIX}: run scripts/setup.sh")
  endif()
  add_library(sodium::sodium STATIC IMPORTED)
  set_target_properties(sodium::sodium PROPERTIES IMPORTED_LOCATION ${SOLMERE_SODIUM_PREFIX}/lib/libsodium.a
                                                  INTERFACE_INCLUDE_DIRECTORIES ${SOLMERE_SODIUM_PREFIX}/include
                                                  INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC
                                                  INTERFACE_LINK_LIBRARIES advapi32)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
  add_library(sodium::sodium ALIAS PkgConfig::SODIUM)
endif()
