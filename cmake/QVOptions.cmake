# One target carries the language level, warnings and sanitizer flags for
# every library and program of the project.
add_library(qv_options INTERFACE)
# One include directory for the whole project: every include is written from
# the repository root ("service/query_request.h"), so no two headers of the
# same name can be confused.
target_include_directories(qv_options INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_options(qv_options INTERFACE
  -Wall -Wextra -Wnon-virtual-dtor -Wold-style-cast)
target_compile_definitions(qv_options INTERFACE
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QVVIEWER_VERSION="${PROJECT_VERSION}"
  QVVIEWER_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  QVVIEWER_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  QVVIEWER_VERSION_PATCH=${PROJECT_VERSION_PATCH}
  QVVIEWER_VERSION_TWEAK=${PROJECT_VERSION_TWEAK}
  # A Debug build checks bounds and preconditions in the standard library;
  # Qt's own asserts are on in Debug builds already (no QT_NO_DEBUG).
  $<$<CONFIG:Debug>:_GLIBCXX_ASSERTIONS>)

if(QV_SANITIZE)
  # With debug information whatever the build type: reports and the
  # program's own stack traces name source lines.
  set(_qv_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined -g)
  # Sanitizer flags go on every target, generated code included, so that
  # container annotations and ODR checks agree across translation units.
  add_compile_options(${_qv_san})
  add_link_options(${_qv_san})
endif()

if(QV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QV_FUZZ needs clang (libFuzzer): configure with CC=clang CXX=clang++")
  endif()
  # Every library is instrumented for coverage so that the fuzzers see the
  # branches of the code they call; only the fuzz targets link libFuzzer.
  add_compile_options(-fsanitize=fuzzer-no-link)
  add_link_options(-fsanitize=fuzzer-no-link)
endif()

# qv_add_library(<name> [RECURSE] [SOURCES extra...] [PUBLIC libs...] [PRIVATE libs...])
# One static library of every *.cpp and *.h of the calling folder (and of its
# sub-folders with RECURSE), but for a main.cpp, which is the folder's program.
function(qv_add_library name)
  cmake_parse_arguments(L "RECURSE" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  set(glob GLOB)
  if(L_RECURSE)
    set(glob GLOB_RECURSE)
  endif()
  file(${glob} sources CONFIGURE_DEPENDS *.cpp *.h)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  add_library(${name} STATIC ${sources} ${L_SOURCES})
  target_link_libraries(${name} PUBLIC qv_options ${L_PUBLIC} PRIVATE ${L_PRIVATE})
endfunction()
