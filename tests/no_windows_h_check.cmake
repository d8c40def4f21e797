# Fails when the core includes a Windows SDK header. The core (every folder of src/ but the
# platform backends, the library's wiring, the platform API headers and the public
# headers) sees Windows only through the platform layer and kestrel/oleauto.h's own
# declarations; only the Win32 backend, Windows tests and hosts include <windows.h>.
# A public header may include it for hosts alone: inside a branch whose #if line holds
# "!defined(KESTREL_NO_WINDOWS_H)", which the library's own build never takes.
#   cmake -DSOURCE_DIR=<source tree> -P no_windows_h_check.cmake
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "no_windows_h_check: SOURCE_DIR is not set")
endif()

set(_patterns)
foreach(_dir common json convert settings framework translation parser)
  foreach(_ext h hpp c cpp inc)
    list(APPEND _patterns ${SOURCE_DIR}/src/${_dir}/*.${_ext})
  endforeach()
endforeach()
file(GLOB_RECURSE _files ${_patterns})
file(GLOB _top ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/src/platform/*.h ${SOURCE_DIR}/src/platform/*.cpp
     ${SOURCE_DIR}/include/kestrel/*.h)
list(APPEND _files ${_top})
list(LENGTH _files _count)
if(_count LESS 20)
  message(FATAL_ERROR "no_windows_h_check: only ${_count} files under ${SOURCE_DIR}")
endif()

set(_sdk "windows|winsock2?|ws2tcpip|ole2|oleauto|objbase|oaidl|wtypes|wtypesbase|unknwn|windef|minwindef|winbase|winuser|winreg|winnt|winnls|winerror|shlobj|shellapi|sddl|process|io")
set(_bad "")
foreach(_file IN LISTS _files)
  file(STRINGS ${_file} _lines)
  set(_host_branch FALSE)
  foreach(_line IN LISTS _lines)
    if(_line MATCHES "^[ \t]*#[ \t]*if.*!defined\\(KESTREL_NO_WINDOWS_H\\)")
      set(_host_branch TRUE)
    elseif(_line MATCHES "^[ \t]*#[ \t]*(else|elif|endif)")
      set(_host_branch FALSE)
    endif()
    string(TOLOWER "${_line}" _lower)
    if(_lower MATCHES "^[ \t]*#[ \t]*include[ \t]*[<\"](${_sdk})\\.h[>\"]" AND NOT _host_branch)
      file(RELATIVE_PATH _rel ${SOURCE_DIR} ${_file})
      string(APPEND _bad "  ${_rel}: ${_line}\n")
    endif()
  endforeach()
endforeach()

if(_bad)
  message(FATAL_ERROR "Windows headers included by the core:\n${_bad}")
endif()
message(STATUS "no Windows header in ${_count} core files")
