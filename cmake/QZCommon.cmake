# Settings shared by every Windows target of the project.

# Our own code: warnings are errors; Unicode everywhere; Windows 7 API level.
function(qz_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  # 32-bit: the API is called through the import libraries' stubs, not through
  # __imp_ pointers. The i686 linker (binutils 2.40) discards the code of every
  # import member whose stub nobody calls, and in a delay-load member that code
  # is also the loader the import slot starts out pointing at.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_compile_definitions(${target} PRIVATE DECLSPEC_IMPORT=)
  endif()
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
endfunction()

# A Windows GUI program with its resources.
function(qz_gui_program target)
  add_executable(${target} WIN32 ${ARGN})
  qz_target(${target})
  target_link_options(${target} PRIVATE -municode)
endfunction()

# windres reads UTF-8 resource scripts (with #pragma code_page(65001)).
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001 -DUNICODE -D_UNICODE")
