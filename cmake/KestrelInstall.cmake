# What `cmake --install` puts into a prefix, for hosts that use Kestrel:
#   lib/      libkestrel.so.5 (+ links) and libkestrel_platform.so.5 beside it (Linux);
#             bin/kestrel.dll on Windows
#   bin/      the reference host kestrel-host
#   include/kestrel/            the public headers
#   share/kestrel/lang/         the language files
#   share/kestrel/examples/     the example settings and stream, the minimal host
#   share/doc/kestrel/          the guides, README, CHANGELOG, LICENSE
#   lib/pkgconfig/kestrel.pc    and lib/cmake/Kestrel/ (find_package(Kestrel 5))
# Both the pkg-config file and the CMake package find the rest relative to themselves, so the
# tree can be moved or unpacked anywhere.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Plain names: the pkg-config file and the CMake package assume lib/, include/, share/.
set(_lib lib)
set(_inc include)
set(_share share/kestrel)
set(_doc share/doc/kestrel)

install(TARGETS kestrel
        LIBRARY DESTINATION ${_lib}
        RUNTIME DESTINATION bin
        ARCHIVE DESTINATION ${_lib})
if(NOT WIN32)
  install(TARGETS kestrel_platform LIBRARY DESTINATION ${_lib})
endif()
if(TARGET kestrel-host)
  install(TARGETS kestrel-host RUNTIME DESTINATION bin)
endif()

install(FILES ${PROJECT_SOURCE_DIR}/include/kestrel/kestrel.h
              ${PROJECT_SOURCE_DIR}/include/kestrel/kestrel_base.h
              ${PROJECT_SOURCE_DIR}/include/kestrel/kestrel_platform.h
              ${PROJECT_SOURCE_DIR}/include/kestrel/oleauto.h
              ${KESTREL_GENERATED_INCLUDE_DIR}/kestrel/kestrel_version.h
        DESTINATION ${_inc}/kestrel)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/lang DESTINATION ${_share})
install(FILES ${PROJECT_SOURCE_DIR}/examples/sensors.ini ${PROJECT_SOURCE_DIR}/examples/sensors.jsonl
              ${PROJECT_SOURCE_DIR}/examples/minimal_host.c
        DESTINATION ${_share}/examples)
install(FILES ${PROJECT_SOURCE_DIR}/docs/host-guide.md ${PROJECT_SOURCE_DIR}/docs/settings.md
              ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
              ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${_doc})

if(WIN32)
  set(KESTREL_PC_LIBS "-L\${libdir} -lkestrel")
else()
  set(KESTREL_PC_LIBS "-L\${libdir} -Wl,-rpath,\${libdir} -lkestrel -lkestrel_platform")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/templates/kestrel.pc.in
               ${CMAKE_CURRENT_BINARY_DIR}/kestrel.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kestrel.pc DESTINATION ${_lib}/pkgconfig)

configure_file(${PROJECT_SOURCE_DIR}/cmake/templates/KestrelConfig.cmake.in
               ${CMAKE_CURRENT_BINARY_DIR}/KestrelConfig.cmake @ONLY)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/KestrelConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/KestrelConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/KestrelConfigVersion.cmake
        DESTINATION ${_lib}/cmake/Kestrel)
