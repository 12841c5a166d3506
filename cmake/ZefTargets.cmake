# Helpers shared by every layer.
#
# zef_library(NAME DIR [DEPS ...]) builds one static library from every .cpp below DIR
# (sources are globbed so that adding a file needs no build-file edit) and links DEPS publicly.
# zef_tests(NAME DIR [DEPS ...]) builds one GoogleTest executable from every .cpp below DIR
# and registers each test case with CTest.

set(ZEF_WARNINGS -Wall -Wextra -Werror)

function(zef_library name dir)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
    file(GLOB_RECURSE hdrs CONFIGURE_DEPENDS ${dir}/*.h)
    add_library(${name} STATIC ${srcs} ${hdrs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_compile_options(${name} PRIVATE ${ZEF_WARNINGS})
    if(ARG_DEPS)
        target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    endif()
endfunction()

function(zef_tests name dir)
    if(NOT ZEF_BUILD_TESTS)
        return()
    endif()
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
    add_executable(${name} ${srcs})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    target_compile_options(${name} PRIVATE ${ZEF_WARNINGS})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main GTest::gmock
                                          Threads::Threads)
    gtest_discover_tests(${name}
        WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
        DISCOVERY_TIMEOUT 120
        PROPERTIES ENVIRONMENT "ZEF_TEST_TMP=${CMAKE_BINARY_DIR}/test-tmp;QT_QPA_PLATFORM=offscreen")
endfunction()
