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

# qz_delay_load(target dll...): the program loads these DLLs at the first call
# of one of their functions instead of at its start (delay-load import
# libraries, found before the ordinary ones under the same names). A check
# after the link makes sure no call lost its stub (see qz_target).
find_program(QZ_NM NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-nm REQUIRED)
find_program(QZ_DLLTOOL NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-dlltool REQUIRED)
function(qz_delay_load target)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(prefix _)
  else()
    set(prefix "")
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-delayimp)
  set(libs)
  set(defs)
  foreach(dll ${ARGN})
    find_library(QZ_IMPLIB_${dll} NAMES ${dll} REQUIRED)
    set(out ${dir}/lib${dll}.a)
    add_custom_command(
      OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/delay-import.sh "${prefix}" ${QZ_NM} ${QZ_DLLTOOL} ${QZ_IMPLIB_${dll}} ${dll}.dll ${out}
      DEPENDS ${PROJECT_SOURCE_DIR}/cmake/delay-import.sh
      COMMENT "Delay-load import library for ${dll}.dll"
      VERBATIM)
    list(APPEND libs ${out})
    list(APPEND defs ${out}.def)
  endforeach()
  add_custom_target(${target}-delayimp DEPENDS ${libs})
  add_dependencies(${target} ${target}-delayimp)
  target_link_directories(${target} BEFORE PRIVATE ${dir})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${libs})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/delay-import.sh "${prefix}" --check ${QZ_NM} $<TARGET_FILE:${target}> ${defs}
    VERBATIM)
endfunction()

# windres reads UTF-8 resource scripts (with #pragma code_page(65001)).
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001 -DUNICODE -D_UNICODE")
