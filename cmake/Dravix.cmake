# The project's libraries are static, but for the sanitizer build, where each of the ~70 test
# programs would otherwise carry its own instrumented copy of every library it links (some
# 250 MB a program): there they are shared, built once.
set(DRAVIX_LIBRARY_KIND STATIC)
if(DRAVIX_SHARED_LIBS)
  set(DRAVIX_LIBRARY_KIND SHARED)
endif()

# dravix_library(NAME [QT] LIBS ...): one library from every source file in the calling folder.
function(dravix_library name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_library(${name} ${DRAVIX_LIBRARY_KIND} ${srcs})
  set_property(GLOBAL APPEND PROPERTY DRAVIX_LIBRARIES ${name})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()

# dravix_test(NAME LABELS l1 [l2] SOURCES ... LIBS ... [QT_MAIN] [RUN_SERIAL] [PROPERTIES ...]):
# a GoogleTest program whose cases ctest runs one by one, labelled by folder. RUN_SERIAL keeps
# other tests from running beside its cases (for cases that need the display's input focus).
# RESOURCE_LOCK name keeps its cases from running beside each other (and beside other programs'
# cases that name the same lock), for cases that count what one server logs.
function(dravix_test name)
  cmake_parse_arguments(ARG "QT_MAIN;RUN_SERIAL" "RESOURCE_LOCK" "LABELS;SOURCES;LIBS;FIXTURES;ENVIRONMENT;TIMEOUT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  if(ARG_QT_MAIN)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} dravix_test_support_qt GTest::gtest GTest::gmock)
  else()
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} dravix_test_support GTest::gtest GTest::gmock)
  endif()
  # Test discovery writes each property value unquoted, so a list would split into several
  # properties (the second label read as a property name, what follows it lost): the labels
  # become one, "platform/dispatch", which `ctest -L platform` and `ctest -L dispatch` both match,
  # and a program names one fixture at most.
  list(JOIN ARG_LABELS "/" labels)
  set(props LABELS "${labels}")
  if(ARG_FIXTURES)
    list(LENGTH ARG_FIXTURES fixture_count)
    if(fixture_count GREATER 1)
      message(FATAL_ERROR "${name}: one fixture at most (test discovery cannot carry a list)")
    endif()
    list(APPEND props FIXTURES_REQUIRED "${ARG_FIXTURES}")
  endif()
  if(ARG_RUN_SERIAL)
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  if(ARG_RESOURCE_LOCK)
    list(APPEND props RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
  endif()
  if(ARG_ENVIRONMENT)
    # Set by the program itself before main (ctest's property lists cannot carry several entries
    # through test discovery). A value already in the environment wins: scripts/test gives each
    # run its own peers folder, and the programs must use that one, not the build's.
    set(env_src ${CMAKE_CURRENT_BINARY_DIR}/${name}_environment.cpp)
    set(env_code "#include <cstdlib>\nnamespace {\nstruct TestEnvironment {\n    TestEnvironment() {\n")
    foreach(entry IN LISTS ARG_ENVIRONMENT)
      string(FIND "${entry}" "=" eq)
      string(SUBSTRING "${entry}" 0 ${eq} key)
      math(EXPR vstart "${eq} + 1")
      string(SUBSTRING "${entry}" ${vstart} -1 value)
      string(APPEND env_code "        setenv(R\"dravix(${key})dravix\", R\"dravix(${value})dravix\", 0);\n")
    endforeach()
    string(APPEND env_code "    }\n} environment;\n}  // namespace\n")
    file(CONFIGURE OUTPUT ${env_src} CONTENT "${env_code}")
    target_sources(${name} PRIVATE ${env_src})
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  list(APPEND props TIMEOUT ${ARG_TIMEOUT})
  gtest_discover_tests(${name} PROPERTIES ${props} DISCOVERY_TIMEOUT 60)
endfunction()
