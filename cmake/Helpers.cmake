# quillbridge_add_library(NAME SOURCES ... [LIBS ...]): one library target of a src/ folder.
# Each library sees only its own folder and the folders of the libraries it links: its include root (under the
# build folder) holds one link to its own folder at its path below src/, so "session/X.hpp" resolves only for a
# target that links quillbridge_session. A missing dependency fails the build instead of linking by luck.
function(quillbridge_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
  set(root ${CMAKE_BINARY_DIR}/include-roots/${name})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
  if(NOT ARG_SOURCES)
    # A folder that so far holds only headers.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${root})
    target_link_libraries(${name} INTERFACE ${ARG_LIBS})
    return()
  endif()
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${root})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()

# quillbridge_add_test_suite(NAME SOURCES ... [LIBS ...] [LABELS ...] [ENVIRONMENT ...] [FILTER gtest-filter]):
# one GoogleTest executable, each test registered with CTest (with the given environment, when any); FILTER
# leaves out tests that another CTest entry runs (inside a service's environment, say).
function(quillbridge_add_test_suite name)
  cmake_parse_arguments(ARG "" "FILTER" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  include(GoogleTest)
  set(properties TIMEOUT 300)
  if(ARG_ENVIRONMENT)
    list(APPEND properties ENVIRONMENT "${ARG_ENVIRONMENT}")
  endif()
  if(ARG_LABELS)
    list(APPEND properties LABELS "${ARG_LABELS}")
    if("tsan" IN_LIST ARG_LABELS)
      # The test script builds only these targets for its ThreadSanitizer run.
      set_property(GLOBAL APPEND PROPERTY QUILLBRIDGE_TSAN_TARGETS ${name})
    endif()
  endif()
  set(filter)
  if(ARG_FILTER)
    set(filter TEST_FILTER ${ARG_FILTER})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 ${filter} PROPERTIES ${properties})
endfunction()

# quillbridge_add_benchmark(NAME SOURCES ... [LIBS ...]): one Google Benchmark program under bench/.
function(quillbridge_add_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark benchmark::benchmark_main)
endfunction()

# quillbridge_add_fuzzer(NAME SOURCES ... [LIBS ...] [CORPUS dir] [SECONDS n] [DICT file]): one libFuzzer
# target, run by CTest for a short fixed time over its seed corpus (and with its dictionary, when given).
function(quillbridge_add_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS;SECONDS;DICT" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS 20)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
  set(dictionary "")
  if(ARG_DICT)
    set(dictionary "-dict='${ARG_DICT}'")
  endif()
  add_test(NAME ${name}
           COMMAND ${CMAKE_COMMAND} -E env UBSAN_OPTIONS=halt_on_error=1
                   sh -c "mkdir -p '${work}' && exec \"$0\" -max_total_time=${ARG_SECONDS} -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 ${dictionary} '${work}' '${ARG_CORPUS}'"
                   $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 600)
endfunction()

# quillbridge_add_subfolders(): adds every folder directly below the current one that has a CMakeLists.txt.
function(quillbridge_add_subfolders)
  file(GLOB folders LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(folder IN LISTS folders)
    if(IS_DIRECTORY ${folder} AND EXISTS ${folder}/CMakeLists.txt)
      add_subdirectory(${folder})
    endif()
  endforeach()
endfunction()

# Precompiled headers: Asio, nlohmann/json and GoogleTest dominate the compile time of most files. Every target
# of two or more C++ files that links Asio (directly or through another of our libraries) precompiles them; test
# and benchmark programs also precompile their frameworks.
set(QUILLBRIDGE_PCH_COMMON
  <algorithm> <chrono> <cstdint> <expected> <functional> <map> <memory> <mutex> <optional> <string> <variant>
  <vector> <nlohmann/json.hpp> <asio/any_io_executor.hpp> <asio/awaitable.hpp> <asio/co_spawn.hpp>
  <asio/io_context.hpp> <asio/post.hpp> <asio/steady_timer.hpp> <asio/strand.hpp> <asio/this_coro.hpp>
  <asio/use_awaitable.hpp> <asio/experimental/awaitable_operators.hpp>)

function(quillbridge_links_asio target result)
  get_target_property(libs ${target} LINK_LIBRARIES)
  get_target_property(interface_libs ${target} INTERFACE_LINK_LIBRARIES)
  set(found FALSE)
  foreach(lib IN LISTS libs interface_libs)
    if(lib STREQUAL "quillbridge_asio")
      set(found TRUE)
    elseif(lib MATCHES "^quillbridge_" AND TARGET ${lib})
      quillbridge_links_asio(${lib} sub)
      if(sub)
        set(found TRUE)
      endif()
    endif()
    if(found)
      break()
    endif()
  endforeach()
  set(${result} ${found} PARENT_SCOPE)
endfunction()

function(quillbridge_precompile_targets directory)
  get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY)$")
      continue()
    endif()
    get_target_property(sources ${target} SOURCES)
    list(FILTER sources INCLUDE REGEX "\\.cpp$")
    list(LENGTH sources count)
    quillbridge_links_asio(${target} asio)
    if(count LESS 2 OR NOT asio)
      continue()
    endif()
    set(headers ${QUILLBRIDGE_PCH_COMMON})
    get_target_property(libs ${target} LINK_LIBRARIES)
    if("GTest::gmock" IN_LIST libs OR "GTest::gtest_main" IN_LIST libs OR "GTest::gtest" IN_LIST libs)
      list(APPEND headers <gtest/gtest.h> <gmock/gmock.h>)
    endif()
    target_precompile_headers(${target} PRIVATE ${headers})
  endforeach()
  get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    quillbridge_precompile_targets(${subdirectory})
  endforeach()
endfunction()
