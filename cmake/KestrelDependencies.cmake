# Third-party dependencies. All come from the distribution's packages (see .ci/run).
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(ZLIB REQUIRED)

# PCRE 8.x (libpcre3-dev on Debian); on MinGW a static build made by scripts/.
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
