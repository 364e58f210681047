# Compile and link rules for the two DLLs: C++20 without exceptions, RTTI or unwind tables,
# no C runtime DLL and no libstdc++/libgcc DLL (static libgcc only for compiler helpers).

# The shipped DLLs are 32-bit. The x64 build (cmake/mingw-x86_64.cmake) is the test build for
# kernels that cannot run 32-bit programs: there the entry point and the exports carry no
# stdcall decoration, and the .def files are used with their decorations stripped.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(QEL_DLL_ENTRY DllMain)
  set(QEL_DLLTOOL x86_64-w64-mingw32-dlltool)
  # mingw-w64's 64-bit comctl32 import library lacks GetWindowSubclass, which comctl32 exports
  # by ordinal 411 only: an import library of our own supplies it.
  set(ordinals ${CMAKE_BINARY_DIR}/lib/libcomctl32_ordinals.a)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
  file(WRITE ${CMAKE_BINARY_DIR}/comctl32_ordinals.def "LIBRARY comctl32.dll\nEXPORTS\n    GetWindowSubclass @411 NONAME\n")
  execute_process(COMMAND ${QEL_DLLTOOL} -d ${CMAKE_BINARY_DIR}/comctl32_ordinals.def -l ${ordinals}
    RESULT_VARIABLE ordinals_result)
  if(NOT ordinals_result EQUAL 0)
    message(FATAL_ERROR "dlltool could not make ${ordinals}")
  endif()
  link_libraries(${ordinals})
else()
  set(QEL_DLL_ENTRY _DllMain@12)
  set(QEL_DLLTOOL i686-w64-mingw32-dlltool)
endif()

# Options for code that goes into a DLL (the DLL itself and the static core its unit tests link).
function(qel_freestanding_code target)
  target_compile_options(${target} PRIVATE
    -O2 -Wall -Wextra -Werror
    -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-threadsafe-statics
    -fno-stack-protector -fno-tree-loop-distribute-patterns)
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC qel_runtime)
endfunction()

# qel_dll(NAME DEF_FILE LIBS...): a DLL with DllMain@12 as its entry point, exporting only the
# undecorated names of its .def file.
function(qel_dll name def)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    get_filename_component(def_name ${def} NAME)
    file(READ ${def} def_text)
    string(REGEX REPLACE "@[0-9]+" "" def_text "${def_text}")
    set(def ${CMAKE_CURRENT_BINARY_DIR}/${def_name})
    file(WRITE ${def} "${def_text}")
  endif()
  set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name}
    IMPORT_PREFIX "" IMPORT_SUFFIX ".dll.a")
  qel_freestanding_code(${name})
  target_link_options(${name} PRIVATE
    -nostdlib -nostartfiles -Wl,-e,${QEL_DLL_ENTRY} -Wl,--dynamicbase -Wl,--nxcompat
    -Wl,--kill-at ${def})
  target_link_libraries(${name} PRIVATE qel_runtime ${ARGN} gcc)
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${def})
  # The linker's import library names the undecorated symbols; stdcall callers look for
  # Name@N. dlltool's kill-at import library maps the decorated symbols to the plain exports.
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND ${QEL_DLLTOOL} -d ${def} -D ${name}.dll -l $<TARGET_LINKER_FILE:${name}> -k
    VERBATIM)
endfunction()
