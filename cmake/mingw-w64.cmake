# Cross-building for 64-bit Windows with mingw-w64 (Debian's g++-mingw-w64-x86-64-posix: the
# posix thread model, for std::thread and std::mutex).
#
# FERROLINK_WINDOWS_DEPS names the directory that scripts/windows fills with the cross-built
# Boost (include/, lib/) and the libpcap headers (pcap-include/); when it is not given, the newest
# one under /var/cache/ferrolink is taken.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_flk_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_flk_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_flk_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_flk_triple}-windres)

if(NOT FERROLINK_WINDOWS_DEPS AND DEFINED ENV{FERROLINK_WINDOWS_DEPS})
  set(FERROLINK_WINDOWS_DEPS "$ENV{FERROLINK_WINDOWS_DEPS}")
endif()
if(NOT FERROLINK_WINDOWS_DEPS)
  file(GLOB _flk_deps LIST_DIRECTORIES true /var/cache/ferrolink/boost-*)
  list(FILTER _flk_deps EXCLUDE REGEX "\\.partial$")
  if(_flk_deps)
    list(SORT _flk_deps)
    list(GET _flk_deps -1 FERROLINK_WINDOWS_DEPS)
  endif()
endif()
set(FERROLINK_WINDOWS_DEPS "${FERROLINK_WINDOWS_DEPS}" CACHE PATH
    "Cross-built Boost and libpcap headers for Windows (made by scripts/windows)")
# Try-compile projects re-read this file; hand them the same directory.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES FERROLINK_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${_flk_triple} ${FERROLINK_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(FERROLINK_WINDOWS_DEPS)
  set(Boost_ROOT ${FERROLINK_WINDOWS_DEPS})
  set(Boost_DIR ${FERROLINK_WINDOWS_DEPS}/lib/cmake/Boost-1.74.0)
endif()
