# imbrix_layer(NAME DIR [DEPS ...]): a static library of every .cpp in DIR.
# Globbing keeps new files from needing an edit here; CONFIGURE_DEPENDS re-globs on build.
function(imbrix_layer name)
  cmake_parse_arguments(L "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${L_DEPS})
  else()
    # A layer whose sources have not been written yet.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${L_DEPS})
  endif()
endfunction()

# imbrix_gtest(NAME [DEPS ...]): one GoogleTest program of every .cpp in the current folder.
function(imbrix_gtest name)
  cmake_parse_arguments(T "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE ${T_DEPS} imbrix_testsupport GTest::gtest GTest::gtest_main)
  # The tests' environment goes through env: the discovered tests' ENVIRONMENT property keeps
  # only the first of several variables with this CMake.
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
    "env;IMBRIX_SHARED=${PROJECT_SOURCE_DIR}/../shared;IMBRIX_SOURCE=${PROJECT_SOURCE_DIR};QT_QPA_PLATFORM=offscreen")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()
