# Compiler settings shared by every target of the project.

# Warnings are errors in our own code (third-party sources added with
# parlex_third_party() are exempt).
set(PARLEX_WARNINGS -Wall -Wextra -Werror)
if(PARLEX_WIN32)
  # mingw's COM headers trip these; they say nothing about our code.
  list(APPEND PARLEX_WARNINGS -Wno-cast-function-type)
endif()

if(PARLEX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(PARLEX_WIN32)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601 _WIN32_IE=0x0800)
  # One self-contained executable: no mingw runtime DLLs next to it.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

set(PARLEX_GENERATED_INCLUDE ${CMAKE_BINARY_DIR}/generated)

# parlex_library(name [STATIC] SOURCES ... [LIBS ...])
# A library of our own code: src/ is the include root, warnings are errors.
function(parlex_library name)
  cmake_parse_arguments(L "" "" "SOURCES;LIBS;PUBLIC_LIBS" ${ARGN})
  add_library(${name} STATIC ${L_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PARLEX_GENERATED_INCLUDE})
  target_compile_options(${name} PRIVATE ${PARLEX_WARNINGS})
  target_link_libraries(${name} PUBLIC ${L_PUBLIC_LIBS} PRIVATE ${L_LIBS})
endfunction()

# parlex_warnings(target): our warning set on a target made with plain add_executable.
function(parlex_warnings target)
  target_compile_options(${target} PRIVATE ${PARLEX_WARNINGS})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PARLEX_GENERATED_INCLUDE})
endfunction()
