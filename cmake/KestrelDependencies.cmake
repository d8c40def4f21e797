# Third-party dependencies. All come from the distribution's packages (see
# scripts/install-deps.sh); cross builds use PCRE built from Debian's source package and
# GoogleTest built from /usr/src/googletest.
find_package(Threads REQUIRED)

if(CMAKE_CROSSCOMPILING AND WIN32)
  set(KESTREL_PCRE_ROOT "" CACHE PATH "Prefix of a static PCRE 8 build for the target")
  add_library(kestrel_pcre STATIC IMPORTED)
  set_target_properties(kestrel_pcre PROPERTIES
    IMPORTED_LOCATION ${KESTREL_PCRE_ROOT}/lib/libpcre.a
    INTERFACE_INCLUDE_DIRECTORIES ${KESTREL_PCRE_ROOT}/include
    INTERFACE_COMPILE_DEFINITIONS PCRE_STATIC)
  add_library(PkgConfig::PCRE ALIAS kestrel_pcre)
  find_package(ZLIB)
  if(KESTREL_BUILD_TESTS)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    include(GoogleTest)
  endif()
  set(KESTREL_BUILD_BENCH OFF CACHE BOOL "" FORCE)
  return()
endif()

find_package(PkgConfig REQUIRED)
find_package(ZLIB REQUIRED)

# PCRE 8.x (libpcre3-dev on Debian).
pkg_check_modules(PCRE REQUIRED IMPORTED_TARGET libpcre)

if(NOT WIN32)
  find_package(ICU REQUIRED COMPONENTS uc i18n)
endif()

if(KESTREL_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(KESTREL_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
