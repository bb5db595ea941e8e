# What every Windows program of the project carries: a manifest that asks for no elevation
# (Windows would otherwise treat a program whose name holds "update" as an installer and ask for
# an administrator), the supported Windows versions, a version record filled from the project's
# version, the linker's hardening flags, and an entry point that keeps DLLs out of the program's
# own folder (program_entry.cpp.in).
set(MIDIUPDATE_WINDOWS_TEMPLATES ${CMAKE_CURRENT_LIST_DIR}/windows)

function(midiupdate_windows_program target description)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(fileName ${target} OUTPUT_NAME)
  if(NOT fileName)
    set(fileName ${target})
  endif()
  set(PROGRAM_FILE ${fileName}.exe)
  set(PROGRAM_DESCRIPTION ${description})
  set(MANIFEST_NAME ${fileName})
  set(WINDOWS_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
  set(VERSION_COMMAS ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources)
  set(MANIFEST_FILE ${dir}/${fileName}.manifest)
  configure_file(${MIDIUPDATE_WINDOWS_TEMPLATES}/program.manifest.in ${MANIFEST_FILE} @ONLY)
  configure_file(${MIDIUPDATE_WINDOWS_TEMPLATES}/version.rc.in ${dir}/version.rc @ONLY)
  enable_language(RC)
  target_sources(${target} PRIVATE ${dir}/version.rc)
  set_source_files_properties(${dir}/version.rc PROPERTIES OBJECT_DEPENDS ${MANIFEST_FILE})
  # The entry point starts the C runtime of the program's kind, console or window.
  get_target_property(windowed ${target} WIN32_EXECUTABLE)
  if(windowed)
    set(RUNTIME_START WinMainCRTStartup)
  else()
    set(RUNTIME_START mainCRTStartup)
  endif()
  configure_file(${MIDIUPDATE_WINDOWS_TEMPLATES}/program_entry.cpp.in ${dir}/ProgramEntry.cpp @ONLY)
  target_sources(${target} PRIVATE ${dir}/ProgramEntry.cpp)
  if(MINGW)
    # Symbols of 32-bit C functions carry a leading underscore.
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(entry MidiUpdateProgramStart)
    else()
      set(entry _MidiUpdateProgramStart)
    endif()
    target_link_options(${target} PRIVATE -Wl,-e,${entry} -Wl,--dynamicbase -Wl,--nxcompat)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      target_link_options(${target} PRIVATE -Wl,--high-entropy-va)
    else()
      target_link_options(${target} PRIVATE -Wl,--large-address-aware)
    endif()
  elseif(MSVC)
    target_link_options(${target} PRIVATE /ENTRY:MidiUpdateProgramStart /DYNAMICBASE /NXCOMPAT
                        /MANIFEST:NO)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      target_link_options(${target} PRIVATE /HIGHENTROPYVA)
    else()
      target_link_options(${target} PRIVATE /LARGEADDRESSAWARE)
    endif()
  endif()
endfunction()

# Links system DLLs so that each is loaded at the first call of one of its functions, not when the
# program starts: by then the program's entry point has taken its own folder out of the DLL search,
# so the DLL, and every DLL it imports, comes from the system folder. A DLL in the import table is
# loaded with its own imports before the entry point runs: Windows takes the KnownDLLs among them
# from the system folder, but not the other DLLs (winmm, comctl32, gdiplus), and Wine has no
# KnownDLLs at all (its comdlg32 imports comctl32). So every system DLL but kernel32, user32,
# gdi32 and the C runtime, which the programs need from the start, is linked here.
# Usage: midiupdate_link_delay_loaded(TARGET PUBLIC|PRIVATE|INTERFACE NAME...), NAME as in
# target_link_libraries (winmm, comctl32, gdiplus, ...).
function(midiupdate_link_delay_loaded target scope)
  foreach(name IN LISTS ARGN)
    if(MSVC)
      target_link_libraries(${target} ${scope} ${name} delayimp)
      target_link_options(${target} ${scope} /DELAYLOAD:${name}.dll)
    elseif(MINGW)
      midiupdate_delay_import_library(${name} library)
      target_link_libraries(${target} ${scope} ${library})
    else()
      target_link_libraries(${target} ${scope} ${name})
    endif()
  endforeach()
endfunction()

# MinGW's delay-import library for system DLL NAME, made once per build folder from its ordinary
# import library: every function that one names, under the same symbols, but reached through the
# runtime's delay-load helper. Sets OUT to the library's path.
function(midiupdate_delay_import_library name out)
  set(library ${CMAKE_BINARY_DIR}/delay-import/lib${name}_delay.a)
  set(${out} ${library} PARENT_SCOPE)
  if(EXISTS ${library})
    return()
  endif()
  find_library(MIDIUPDATE_IMPORT_LIBRARY_${name} NAMES ${name} REQUIRED NO_CACHE)
  set(importLibrary ${MIDIUPDATE_IMPORT_LIBRARY_${name}})
  execute_process(COMMAND ${CMAKE_NM} -g --defined-only ${importLibrary}
                  OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  # Each function appears as its import slot, __imp_NAME (32-bit: __imp__NAME@ARGBYTES).
  string(REGEX MATCHALL "[^\n]* I __imp_[^\n]*" slots "${symbols}")
  set(exports "")
  foreach(slot IN LISTS slots)
    string(REGEX REPLACE ".* I __imp_" "" function "${slot}")
    if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
      string(REGEX REPLACE "^_" "" function "${function}")
    endif()
    string(APPEND exports "${function}\n")
  endforeach()
  if(exports STREQUAL "")
    message(FATAL_ERROR "${importLibrary} names no functions of ${name}.dll")
  endif()
  set(def ${CMAKE_BINARY_DIR}/delay-import/${name}.def)
  file(WRITE ${def} "LIBRARY ${name}.dll\nEXPORTS\n${exports}")
  # --kill-at: the 32-bit DLLs export their functions without the @ARGBYTES of the symbols.
  execute_process(COMMAND ${CMAKE_DLLTOOL} --kill-at --input-def ${name}.def
                          --output-delaylib lib${name}_delay.a
                  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/delay-import RESULT_VARIABLE failed)
  if(failed)
    file(REMOVE ${library})
    message(FATAL_ERROR "${CMAKE_DLLTOOL} made no delay-import library of ${name}.dll")
  endif()
endfunction()
