# Small helpers that every library and test declaration uses.
#
#   q_add_library(<name> SOURCES <files...> [PUBLIC <deps...>] [PRIVATE <deps...>])
#   q_add_executable(<name> SOURCES <files...> [PRIVATE <deps...>])
#   q_add_test(<name> SOURCES <files...> [PRIVATE <deps...>] [TIMEOUT <seconds>] [LABELS <labels...>])
#
# Headers are included relative to the repository root ("qlib/qutilitylib/qexception.h").

add_library(q_warnings INTERFACE)
target_compile_options(q_warnings INTERFACE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
if(Q_WERROR)
  target_compile_options(q_warnings INTERFACE -Werror)
  # g++ 12 at -O3 takes "text" + std::string&& for an overlapping copy (GCC bug 105329): a
  # warning there, never an error.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(q_warnings INTERFACE -Wno-error=restrict)
  endif()
endif()

function(q_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC} PRIVATE q_warnings ${ARG_PRIVATE})
  # Source file paths recorded in error entries are relative to the repository root.
  target_compile_options(${name} PRIVATE "-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=")
endfunction()

function(q_add_executable name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PRIVATE" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE q_warnings ${ARG_PRIVATE})
  target_compile_options(${name} PRIVATE "-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=")
endfunction()

function(q_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;PRIVATE;LABELS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE q_warnings ${ARG_PRIVATE} GTest::gmock GTest::gtest_main)
  target_compile_options(${name} PRIVATE "-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=")
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}")
endfunction()
