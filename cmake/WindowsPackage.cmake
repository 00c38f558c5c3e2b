# What the Windows package holds beside ferrolink.dll (included after the library's targets):
# the import library in Microsoft's format for Visual Studio hosts, the mingw import library under
# the name mingw's linker looks for, and the DLLs that ferrolink.dll and ferrolink.exe load, found
# by walking their imports rather than copied wholesale.

if(NOT MSVC)
  # libferrolink.dll.a for mingw hosts (-lferrolink finds it); ferrolink.lib, Microsoft's format,
  # is made from the DLL's export table, which the linker writes as a .def file.
  set_target_properties(ferrolink PROPERTIES IMPORT_PREFIX lib)
  if(CMAKE_CROSSCOMPILING)
    find_program(FERROLINK_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
  else()
    find_program(FERROLINK_DLLTOOL NAMES llvm-dlltool)
  endif()
endif()

if(FERROLINK_DLLTOOL AND NOT MSVC)
  set(_flk_def ${PROJECT_BINARY_DIR}/ferrolink.def)
  set(FERROLINK_MSVC_IMPLIB ${PROJECT_BINARY_DIR}/ferrolink.lib CACHE INTERNAL "")
  target_link_options(ferrolink PRIVATE -Wl,--output-def,${_flk_def})
  add_custom_command(OUTPUT ${FERROLINK_MSVC_IMPLIB}
    COMMAND ${FERROLINK_DLLTOOL} -m i386:x86-64 -d ${_flk_def} -D $<TARGET_FILE_NAME:ferrolink>
            -l ${FERROLINK_MSVC_IMPLIB}
    DEPENDS ferrolink $<TARGET_FILE:ferrolink>
    COMMENT "Making ferrolink.lib, the import library for Visual Studio hosts"
    VERBATIM)
  add_custom_target(ferrolink_msvc_implib ALL DEPENDS ${FERROLINK_MSVC_IMPLIB})
  install(FILES ${FERROLINK_MSVC_IMPLIB} DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

if(CMAKE_CROSSCOMPILING AND NOT MSVC)
  # Cross-built with mingw: the DLLs ferrolink.dll and the tool load, and the ones they load,
  # from the compiler's runtime and the cross-built Boost. Windows' own DLLs are left out; any
  # other import that is found nowhere fails the install, so a package never ships without a DLL
  # it needs.
  find_program(FERROLINK_OBJDUMP NAMES ${CMAKE_C_COMPILER_TARGET}-objdump x86_64-w64-mingw32-objdump
               REQUIRED)
  install(CODE "
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND \"${FERROLINK_OBJDUMP}\")
    file(GET_RUNTIME_DEPENDENCIES
      LIBRARIES \"$<TARGET_FILE:ferrolink>\"
      $<$<TARGET_EXISTS:ferrolink_cli>:EXECUTABLES \"$<TARGET_FILE:ferrolink_cli>\">
      DIRECTORIES ${FERROLINK_RUNTIME_DLL_DIRS}
      PRE_EXCLUDE_REGEXES \"^(api-ms-|ext-ms-)\"
        \"^(advapi32|bcrypt|crypt32|iphlpapi|kernel32|msvcrt|mswsock|ntdll|ole32|oleaut32)\\\\.dll$\"
        \"^(secur32|shell32|shlwapi|ucrtbase|user32|ws2_32)\\\\.dll$\"
      RESOLVED_DEPENDENCIES_VAR _flk_found
      UNRESOLVED_DEPENDENCIES_VAR _flk_missing)
    if(_flk_missing)
      message(FATAL_ERROR \"ferrolink.dll or ferrolink.exe loads DLLs found in none of ${FERROLINK_RUNTIME_DLL_DIRS}: \${_flk_missing}\")
    endif()
    file(INSTALL \${_flk_found} DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    if(CMAKE_INSTALL_DO_STRIP)
      foreach(_flk_dll \${_flk_found})
        get_filename_component(_flk_name \"\${_flk_dll}\" NAME)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded
                                \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${_flk_name}\"
                        COMMAND_ERROR_IS_FATAL ANY)
      endforeach()
    endif()
  ")
endif()
