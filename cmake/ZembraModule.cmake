# zembra_module(NAME [DEPS a b ...] [SYSTEM_LIBS x y ...])
# Builds every .cpp below src/NAME into the static library zembra_NAME.
# Sources are globbed so a new file needs no edit here.
function(zembra_module name)
  cmake_parse_arguments(M "" "" "DEPS;SYSTEM_LIBS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  # A module of headers only (so far) is an interface library, so the tree
  # configures while its first .cpp is still being written.
  set(scope PUBLIC)
  if(sources)
    add_library(zembra_${name} STATIC ${sources})
  else()
    add_library(zembra_${name} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(zembra_${name} ${scope} ${PROJECT_SOURCE_DIR}/src)
  foreach(dep ${M_DEPS})
    target_link_libraries(zembra_${name} ${scope} zembra_${dep})
  endforeach()
  if(M_SYSTEM_LIBS)
    target_link_libraries(zembra_${name} ${scope} ${M_SYSTEM_LIBS})
  endif()
endfunction()

# zembra_test(NAME DEPS a b ...): one GoogleTest executable from every .cpp
# below tests/NAME, registered with CTest.
function(zembra_test name)
  cmake_parse_arguments(T "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    message(STATUS "test_${name}: no test sources yet")
    return()
  endif()
  add_executable(test_${name} ${sources})
  foreach(dep ${T_DEPS})
    target_link_libraries(test_${name} PRIVATE zembra_${dep})
  endforeach()
  target_link_libraries(test_${name} PRIVATE GTest::gtest GTest::gtest_main)
  target_include_directories(test_${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(test_${name} PRIVATE
    ZEMBRA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    ZEMBRA_BINARY_DIR="${PROJECT_BINARY_DIR}")
  # Tests of one module share the fixtures they cache in the build tree
  # (generated discs, streams), so they run one at a time; modules still run
  # beside each other.
  gtest_discover_tests(test_${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "ZEMBRA_SHUTDOWN_COMMAND=true" RESOURCE_LOCK "fixtures_${name}")
endfunction()
