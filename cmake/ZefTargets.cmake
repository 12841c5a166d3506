# Helpers shared by every layer.
#
# zef_library(NAME DIR [QT] [DEPS ...]) builds one static library from every .cpp below DIR
# (sources are globbed so that adding a file needs no build-file edit) and links DEPS publicly.
# QT: a library of windows (Qt Widgets, with moc run on its headers).
# zef_tests(NAME DIR [DEPS ...]) builds one GoogleTest executable from every .cpp below DIR
# and registers each test case with CTest.

set(ZEF_WARNINGS -Wall -Wextra -Werror)

function(zef_library name dir)
    cmake_parse_arguments(ARG "QT" "" "DEPS" ${ARGN})
    file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
    file(GLOB_RECURSE hdrs CONFIGURE_DEPENDS ${dir}/*.h)
    add_library(${name} STATIC ${srcs} ${hdrs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_compile_options(${name} PRIVATE ${ZEF_WARNINGS})
    if(ARG_DEPS)
        target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    endif()
    if(ARG_QT)
        set_target_properties(${name} PROPERTIES AUTOMOC ON)
        target_link_libraries(${name} PUBLIC Qt6::Widgets)
    endif()
endfunction()

function(zef_tests name dir)
    if(NOT ZEF_BUILD_TESTS)
        return()
    endif()
    cmake_parse_arguments(ARG "QT" "" "DEPS" ${ARGN})
    file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
    add_executable(${name} ${srcs})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    target_compile_options(${name} PRIVATE ${ZEF_WARNINGS})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock Threads::Threads)
    if(ARG_QT)
        # Widget tests run offscreen, inside one QApplication made before the tests run.
        set_target_properties(${name} PROPERTIES AUTOMOC ON)
        target_link_libraries(${name} PRIVATE Qt6::Widgets Qt6::Test)
        target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/qt/qt_test_main.cpp)
    else()
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    gtest_discover_tests(${name}
        WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
        DISCOVERY_TIMEOUT 120
        PROPERTIES ENVIRONMENT "ZEF_TEST_TMP=${CMAKE_BINARY_DIR}/test-tmp;QT_QPA_PLATFORM=offscreen")
endfunction()
