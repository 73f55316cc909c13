# quillbridge_add_library(NAME SOURCES ... [LIBS ...]): one library target of a src/ folder.
function(quillbridge_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_SOURCES)
    # A folder that so far holds only headers.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_LIBS})
    return()
  endif()
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()

# quillbridge_add_test_suite(NAME SOURCES ... [LIBS ...] [LABELS ...] [ENVIRONMENT ...]): one GoogleTest
# executable, each test registered with CTest (with the given environment, when any).
function(quillbridge_add_test_suite name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
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
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
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
