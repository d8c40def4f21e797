# kestrel_embed_resources(<target> [<NAME> <file>]...)
#
# Embeds files into <target> as named resources, found at run time with
# kestrel::platform::FindModuleResource(address inside the target, "NAME"), and gives the target
# the project version as its file version (ModuleFileVersion). The files are read at build time,
# so a change to one rebuilds the target; generated files work when they are outputs of custom
# commands of the same directory. Called without files it only records the version. May be
# called more than once per target.
set(_KESTREL_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/EmbedResources.cmake)

function(kestrel_embed_resources target)
  set(pairs ${ARGN})
  list(LENGTH pairs count)
  math(EXPR odd "${count} % 2")
  if(odd)
    message(FATAL_ERROR "kestrel_embed_resources(${target}): expected NAME file pairs")
  endif()

  get_property(serial TARGET ${target} PROPERTY KESTREL_EMBED_SERIAL)
  if(NOT serial)
    set(serial 0)
  endif()
  math(EXPR next "${serial} + 1")
  set_property(TARGET ${target} PROPERTY KESTREL_EMBED_SERIAL ${next})

  set(tweak "${PROJECT_VERSION_TWEAK}")
  if(tweak STREQUAL "")
    set(tweak 0)
  endif()
  set(manifest "${PROJECT_VERSION_MAJOR}|${PROJECT_VERSION_MINOR}|${PROJECT_VERSION_PATCH}|${tweak}\n")
  set(files)
  while(pairs)
    list(POP_FRONT pairs name file)
    if(NOT name MATCHES "^[A-Za-z0-9_.-]+$")
      message(FATAL_ERROR "kestrel_embed_resources(${target}): bad resource name '${name}'")
    endif()
    get_filename_component(file "${file}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    string(APPEND manifest "${name}|${file}\n")
    list(APPEND files "${file}")
  endwhile()

  set(stem ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources_${serial})
  file(WRITE ${stem}.manifest.new "${manifest}")
  configure_file(${stem}.manifest.new ${stem}.manifest COPYONLY)
  add_custom_command(
    OUTPUT ${stem}.cpp
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${stem}.manifest -DOUTPUT=${stem}.cpp
            -P ${_KESTREL_EMBED_SCRIPT}
    DEPENDS ${stem}.manifest ${files} ${_KESTREL_EMBED_SCRIPT}
    COMMENT "Embedding resources into ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${stem}.cpp)
endfunction()
