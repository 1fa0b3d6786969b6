# zarn.dll and what ships with it: the import libraries for MinGW
# (libzarn.dll.a) and MSVC (zarn.lib), and the debug information kept apart
# from the stripped DLL (zarn.dll.debug). Included by the top-level project.
#
# On 32-bit Windows every export is __stdcall: a client compiled with zarn.h
# asks for name@N (MinGW) or _name@N (MSVC), while the DLL exports most names
# undecorated, three as _name@N and ZARN_SetDigitalOutputs under its C++ name.
# The import libraries bind each symbol a client asks for to the exported name.

set(_x86 OFF)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(_x86 ON)
endif()

file(STRINGS ${ZARN_EXPORTS_LIST} _lines REGEX "^ZARN_")
set(_link_def "LIBRARY zarn.dll\nEXPORTS\n")    # links the DLL
set(_mingw_def "LIBRARY zarn.dll\nEXPORTS\n")   # dlltool: symbol == exported name
set(_msvc_def "LIBRARY zarn.dll\nEXPORTS\n")    # lld-link, MSVC rules
set(_msvc_stub "/* Stand-ins with the exports' signatures, for the import library only. */
#if defined(_M_IX86)
#define ZARN_CALL __stdcall
#else
#define ZARN_CALL
#endif
")
foreach(_line IN LISTS _lines)
  string(REPLACE " " ";" _f "${_line}")
  list(GET _f 0 _name)
  list(GET _f 1 _bytes)
  list(LENGTH _f _n)
  set(_exported ${_name})
  if(_x86 AND _n GREATER 2)
    list(GET _f 2 _exported)
  endif()
  # One int per 4 argument bytes gives the stand-in the export's _name@N.
  math(EXPR _words "${_bytes} / 4")
  set(_params void)
  if(_words GREATER 0)
    set(_params "")
    foreach(_i RANGE 1 ${_words})
      list(APPEND _params "int a${_i}")
    endforeach()
  endif()
  string(REPLACE ";" ", " _params "${_params}")
  string(APPEND _msvc_stub "int ZARN_CALL ${_name}(${_params}) { return 0; }\n")
  if(_x86)
    string(APPEND _link_def "  \"${_exported}\" = ${_name}@${_bytes}\n")
    string(APPEND _mingw_def "  ${_name}@${_bytes} == ${_exported}\n")
    if(_exported STREQUAL _name OR _exported STREQUAL "_${_name}@${_bytes}")
      string(APPEND _msvc_def "  ${_exported}\n")
    else()
      string(APPEND _msvc_def "  ${_exported}=_${_name}@${_bytes}\n")
    endif()
  else()
    string(APPEND _link_def "  ${_name}\n")
    string(APPEND _msvc_def "  ${_name}\n")
  endif()
endforeach()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/zarn.def "${_link_def}")

enable_language(RC)
add_library(zarn SHARED src/zarn.rc src/platform/win32/dllmain.cpp ${CMAKE_CURRENT_BINARY_DIR}/zarn.def)
target_link_libraries(zarn PRIVATE -Wl,--whole-archive zarn_core zarn_protocol -Wl,--no-whole-archive
                      ${ZARN_PLATFORM_LIBS})
set_target_properties(zarn PROPERTIES PREFIX "" OUTPUT_NAME zarn)
# Windows Vista (6.0) or later: the runtime's thread support linked into the
# DLL calls GetTickCount64. The header says so instead of the linker's 4.0.
target_link_options(zarn PRIVATE -Wl,--major-os-version,6,--minor-os-version,0
                    -Wl,--major-subsystem-version,6,--minor-subsystem-version,0)

# The shipped DLL carries no debug information: it goes to zarn.dll.debug,
# which the DLL names (.gnu_debuglink) for debuggers to find beside it.
add_custom_command(TARGET zarn POST_BUILD
  COMMAND ${CMAKE_OBJCOPY} --only-keep-debug zarn.dll zarn.dll.debug
  COMMAND ${CMAKE_OBJCOPY} --strip-debug --add-gnu-debuglink=zarn.dll.debug zarn.dll
  WORKING_DIRECTORY $<TARGET_FILE_DIR:zarn>
  VERBATIM)
# Shipped apart: installed only on request (cmake --install <build> --component debug).
install(FILES $<TARGET_FILE_DIR:zarn>/zarn.dll.debug DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT debug
        EXCLUDE_FROM_ALL)

if(_x86)
  # The linker's own import library offers the exported names only; this one
  # offers the __stdcall symbols and imports each under its exported name.
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/zarn-mingw.def "${_mingw_def}")
  add_custom_command(TARGET zarn POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} --def ${CMAKE_CURRENT_BINARY_DIR}/zarn-mingw.def --dllname zarn.dll
            --output-lib $<TARGET_LINKER_FILE:zarn>
    VERBATIM)
endif()

# The MSVC import library, made the way MSVC makes one: by linking a DLL of
# stand-ins with the export list; only its import library is kept.
find_program(ZARN_CLANG NAMES clang clang-14)
find_program(ZARN_LLD_LINK NAMES lld-link lld-link-14)
if(ZARN_CLANG AND ZARN_LLD_LINK)
  if(_x86)
    set(_target i686-pc-windows-msvc)
    set(_machine x86)
  else()
    set(_target x86_64-pc-windows-msvc)
    set(_machine x64)
  endif()
  set(_msvc ${CMAKE_CURRENT_BINARY_DIR}/msvc)
  file(WRITE ${_msvc}/zarn.def "${_msvc_def}")
  file(WRITE ${_msvc}/stand-ins.c "${_msvc_stub}")
  add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/zarn.lib
    COMMAND ${ZARN_CLANG} --target=${_target} -ffreestanding -c ${_msvc}/stand-ins.c -o ${_msvc}/stand-ins.obj
    COMMAND ${ZARN_LLD_LINK} /nologo /dll /noentry /nodefaultlib /machine:${_machine} /def:${_msvc}/zarn.def
            /out:${_msvc}/zarn.dll /implib:${CMAKE_CURRENT_BINARY_DIR}/zarn.lib ${_msvc}/stand-ins.obj
    DEPENDS ${ZARN_EXPORTS_LIST}
    VERBATIM)
  add_custom_target(zarn_msvc_import_library ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/zarn.lib)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zarn.lib DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
else()
  message(STATUS "clang or lld-link not found: no MSVC import library (zarn.lib)")
endif()
