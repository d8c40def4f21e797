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
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND "undefined" IN_LIST KESTREL_SANITIZE)
    # The list and item interfaces are COM-style: a wide interface extends the 8-bit one, so
    # the methods of one table are also called through the other's pointer types. clang's
    # function-type check reports every such call; the layouts are the same by design.
    add_compile_options(-fno-sanitize=function)
  endif()
endif()

# Under the fuzz preset every library carries libFuzzer's coverage instrumentation, so the
# fuzzers see the code they drive, not only their own entry points.
if(KESTREL_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
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
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include
                                             ${KESTREL_GENERATED_INCLUDE_DIR})
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
  file(GLOB _srcs CONFIGURE_DEPENDS ${folder}/*.cpp ${folder}/*.c ${folder}/${_backend}/*.cpp
       ${folder}/${_backend}/*.c)
  if(NOT _srcs)
    return()
  endif()
  if(CMAKE_CROSSCOMPILING)
    # Under an emulator every process start is expensive (about 50 s for 32-bit Wine on
    # QEMU), so the folders become object libraries that kestrel_finish_tests() links into
    # one executable with one ctest entry.
    add_library(${name} OBJECT ${_srcs})
    target_link_libraries(${name} PUBLIC ${ARGN} GTest::gtest GTest::gmock)
    set_property(GLOBAL APPEND PROPERTY KESTREL_TEST_OBJECTS ${name})
  else()
    add_executable(${name} ${_srcs})
    target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gmock GTest::gtest_main)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  endif()
  kestrel_warnings(${name})
  target_include_directories(${name} PRIVATE ${folder} ${PROJECT_SOURCE_DIR}/tests)
endfunction()

# Links the test folders of a cross build into one executable, run once by ctest.
function(kestrel_finish_tests)
  get_property(_objects GLOBAL PROPERTY KESTREL_TEST_OBJECTS)
  if(NOT CMAKE_CROSSCOMPILING OR NOT _objects)
    return()
  endif()
  add_executable(kestrel_tests ${PROJECT_SOURCE_DIR}/tests/cross_main.cpp)
  kestrel_warnings(kestrel_tests)
  target_link_libraries(kestrel_tests PRIVATE ${_objects} GTest::gtest GTest::gmock)
  add_test(NAME kestrel_tests COMMAND kestrel_tests)
  set_tests_properties(kestrel_tests PROPERTIES TIMEOUT 1800)
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
