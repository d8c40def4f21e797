# Small helpers shared by every folder: warnings, sanitizers, tests and fuzzers.

# Warnings are errors everywhere.
function(kestrel_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
  endif()
endfunction()

if(KESTREL_SANITIZE)
  string(REPLACE ";" "," _kestrel_san "${KESTREL_SANITIZE}")
  add_compile_options(-fsanitize=${_kestrel_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_kestrel_san})
endif()

# kestrel_add_library(name STATIC|SHARED folder): a library made of every source in a folder
# and its backend subfolder. Each folder owns its list; CMake re-globs on every build.
function(kestrel_add_library name kind folder)
  file(GLOB _srcs CONFIGURE_DEPENDS ${folder}/*.cpp ${folder}/*.c)
  if(NOT _srcs AND NOT ARGN)
    # A folder whose units have not been written yet still yields a linkable library.
    set(_srcs ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${_srcs} "// ${name} has no units yet.\n")
  endif()
  add_library(${name} ${kind} ${_srcs} ${ARGN})
  kestrel_warnings(${name})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
  add_library(Kestrel::${name} ALIAS ${name})
endfunction()

# kestrel_add_test(name folder LIBS...): one GoogleTest executable per test folder. Tests of
# one backend only live in the folder's posix/ or win32/ subfolder.
function(kestrel_add_test name folder)
  if(WIN32)
    set(_backend win32)
  else()
    set(_backend posix)
  endif()
  file(GLOB _srcs CONFIGURE_DEPENDS ${folder}/*.cpp ${folder}/*.c ${folder}/${_backend}/*.cpp)
  if(NOT _srcs)
    return()
  endif()
  add_executable(${name} ${_srcs})
  kestrel_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${folder} ${PROJECT_SOURCE_DIR}/tests)
  if(CMAKE_CROSSCOMPILING)
    # One ctest entry per executable: every process start under an emulator is expensive.
    add_test(NAME ${name} COMMAND ${name})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  endif()
endfunction()

# kestrel_add_fuzzer(name source LIBS...): a libFuzzer target under the fuzz preset; in every
# other build the same entry point is linked with a replay main and run over its corpus so
# the target keeps compiling and its saved inputs keep passing.
function(kestrel_add_fuzzer name source)
  add_executable(${name} ${source})
  kestrel_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARGN})
  if(KESTREL_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
    if(KESTREL_BUILD_TESTS)
      add_test(NAME ${name}.replay
               COMMAND ${name} ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
    endif()
  endif()
endfunction()
