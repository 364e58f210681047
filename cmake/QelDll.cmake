# Compile and link rules for the two DLLs: C++20 without exceptions, RTTI or unwind tables,
# no C runtime DLL and no libstdc++/libgcc DLL (static libgcc only for compiler helpers).

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
  set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name}
    IMPORT_PREFIX "" IMPORT_SUFFIX ".dll.a")
  qel_freestanding_code(${name})
  target_link_options(${name} PRIVATE
    -nostdlib -nostartfiles -Wl,-e,_DllMain@12 -Wl,--dynamicbase -Wl,--nxcompat
    -Wl,--kill-at ${def})
  target_link_libraries(${name} PRIVATE qel_runtime ${ARGN} gcc)
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${def})
  # The linker's import library names the undecorated symbols; stdcall callers look for
  # Name@N. dlltool's kill-at import library maps the decorated symbols to the plain exports.
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND i686-w64-mingw32-dlltool -d ${def} -D ${name}.dll -l $<TARGET_LINKER_FILE:${name}> -k
    VERBATIM)
endfunction()
