# What a Windows build needs besides the sources: the capture library's headers (wpcap.dll itself
# is loaded at run time, so nothing is linked), the Win32 libraries, and, when cross-building,
# wine to run the tests.

# Windows' headers: no min/max macros, and only what the platform layer uses.
add_compile_definitions(NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
if(MSVC)
  # The sources are UTF-8 (the board's descriptions), standard C++ is asked for, and the C
  # runtime's "use the _s variant" advice would fail a warnings-as-errors build.
  add_compile_options(/utf-8 /permissive-)
  add_compile_definitions(_CRT_SECURE_NO_WARNINGS)
endif()

# libpcap's headers carry the Windows declarations (pcap_open, pcap_findalldevs_ex, the send
# queues). Cross-building, Debian's copy is taken; with MSVC, point this at Npcap's SDK.
set(FERROLINK_PCAP_INCLUDE_DIR "" CACHE PATH "Directory holding pcap.h and pcap/ for Windows")
if(NOT FERROLINK_PCAP_INCLUDE_DIR)
  if(CMAKE_CROSSCOMPILING AND EXISTS /usr/include/pcap/pcap.h)
    # A copy of its own, so that no other Linux header joins the cross compiler's include path.
    file(COPY /usr/include/pcap.h /usr/include/pcap DESTINATION ${PROJECT_BINARY_DIR}/pcap-include)
    set(FERROLINK_PCAP_INCLUDE_DIR ${PROJECT_BINARY_DIR}/pcap-include)
  else()
    message(FATAL_ERROR "Set FERROLINK_PCAP_INCLUDE_DIR to the Npcap SDK's Include directory")
  endif()
endif()
# Same target name as the pkg-config one on Linux, so that the library's link lines read alike.
add_library(PkgConfig::PCAP INTERFACE IMPORTED GLOBAL)
set_target_properties(PkgConfig::PCAP PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${FERROLINK_PCAP_INCLUDE_DIR}
  INTERFACE_LINK_LIBRARIES "iphlpapi;ws2_32;shell32;ole32;uuid")

if(CMAKE_CROSSCOMPILING AND NOT MSVC)
  # Where the runtime DLLs that mingw-built programs load are, beside Boost's.
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                  OUTPUT_VARIABLE _flk_stdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libwinpthread-1.dll
                  OUTPUT_VARIABLE _flk_pthread OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(_flk_stdcxx_dir ${_flk_stdcxx} DIRECTORY)
  get_filename_component(_flk_pthread_dir ${_flk_pthread} REALPATH)
  get_filename_component(_flk_pthread_dir ${_flk_pthread_dir} DIRECTORY)
  set(FERROLINK_RUNTIME_DLL_DIRS ${_flk_stdcxx_dir} ${_flk_pthread_dir}
      ${FERROLINK_WINDOWS_DEPS}/lib CACHE INTERNAL "")

  # Tests run under wine: through a script that keeps one wine server warm, quiet and in a prefix
  # of the build's own.
  find_program(FERROLINK_WINE NAMES wine64 wine PATHS /usr/lib/wine REQUIRED)
  find_program(FERROLINK_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine REQUIRED)
  set(FERROLINK_WINEPREFIX ${PROJECT_BINARY_DIR}/wineprefix CACHE PATH "wine prefix for the tests")
  string(REPLACE ";" ":" FERROLINK_WINE_DLL_DIRS "${FERROLINK_RUNTIME_DLL_DIRS}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/wine-run.in ${PROJECT_BINARY_DIR}/wine-run @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine-run)
endif()

# The capture library's headers, for hosts that use its types with the handle (the DLLs a host
# needs beside ferrolink.dll are installed by WindowsPackage.cmake).
install(FILES ${FERROLINK_PCAP_INCLUDE_DIR}/pcap.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${FERROLINK_PCAP_INCLUDE_DIR}/pcap DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
