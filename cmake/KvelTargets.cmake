# Small helpers so that every folder's CMakeLists.txt reads as a list of
# targets: sources relative to the folder, and the targets they build on.

# The sources as absolute paths. A file that is named but missing is a
# configure error: a list that drops it quietly builds a program without it.
function(_kvel_existing out)
    set(kept)
    foreach(f IN LISTS ARGN)
        if(IS_ABSOLUTE "${f}")
            set(p "${f}")
        else()
            set(p "${CMAKE_CURRENT_SOURCE_DIR}/${f}")
        endif()
        if(NOT EXISTS "${p}")
            message(FATAL_ERROR "${CMAKE_CURRENT_LIST_FILE}: source file \"${f}\" does not exist")
        endif()
        list(APPEND kept "${p}")
    endforeach()
    set(${out} ${kept} PARENT_SCOPE)
endfunction()

# kvel_library(name SOURCES ... DEPS ...)
function(kvel_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    _kvel_existing(sources ${ARG_SOURCES})
    if(sources)
        add_library(${name} STATIC ${sources})
        target_link_libraries(${name} PUBLIC ${ARG_DEPS})
        target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    else()
        add_library(${name} INTERFACE)
        target_link_libraries(${name} INTERFACE ${ARG_DEPS})
        target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    endif()
endfunction()

# kvel_executable(name SOURCES ... DEPS ...): one program.
function(kvel_executable name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    _kvel_existing(sources ${ARG_SOURCES})
    if(sources)
        add_executable(${name} ${sources})
        target_link_libraries(${name} PRIVATE ${ARG_DEPS})
    endif()
endfunction()

# Every ctest entry publishes its emulated modules in a serial port registry
# of its own (docs/ports.md), so that entries running side by side never see
# each other's ports: a number one of them frees stays free for it.
set(KVEL_TEST_PORT_REGISTRIES ${CMAKE_BINARY_DIR}/test-ports)
file(MAKE_DIRECTORY ${KVEL_TEST_PORT_REGISTRIES})

function(_kvel_add_test_entry entry program labels)
    add_test(NAME ${entry} COMMAND ${program})
    set(environment QT_QPA_PLATFORM=offscreen
                    KVEL_SERIAL_PORT_REGISTRY=${KVEL_TEST_PORT_REGISTRIES}/${entry} ${ARGN})
    set_tests_properties(${entry} PROPERTIES ENVIRONMENT "${environment}" LABELS "${labels}")
endfunction()

# Registers test program `name` with ctest, offscreen. With `shards` above 1
# the program becomes that many ctest entries, name_1 to name_<shards>, that
# ctest can run side by side: each runs every shards-th test of the program
# (GoogleTest reads GTEST_TOTAL_SHARDS and GTEST_SHARD_INDEX itself; Qt Test
# programs do through tests/support/QtTestShards.h).
function(_kvel_add_test name shards labels)
    if(NOT shards OR shards LESS 2)
        _kvel_add_test_entry(${name} ${name} "${labels}")
        return()
    endif()
    math(EXPR last "${shards} - 1")
    foreach(index RANGE ${last})
        math(EXPR number "${index} + 1")
        _kvel_add_test_entry(${name}_${number} ${name} "${labels}"
                             GTEST_TOTAL_SHARDS=${shards} GTEST_SHARD_INDEX=${index})
    endforeach()
endfunction()

# kvel_gtest(name SOURCES ... DEPS ... [LABELS ...] [SHARDS n]): one
# GoogleTest program, registered with ctest as a whole or in n shards.
function(kvel_gtest name)
    cmake_parse_arguments(ARG "" "SHARDS" "SOURCES;DEPS;LABELS" ${ARGN})
    _kvel_existing(sources ${ARG_SOURCES})
    if(sources)
        add_executable(${name} ${sources})
        target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main Threads::Threads)
        set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
        _kvel_add_test(${name} "${ARG_SHARDS}" "${ARG_LABELS}")
    endif()
endfunction()

# kvel_qtest(name SOURCES ... DEPS ... [LABELS ...] [SHARDS n]): one Qt Test
# program, offscreen; shards need its main() to run RunQtTestShard.
function(kvel_qtest name)
    cmake_parse_arguments(ARG "" "SHARDS" "SOURCES;DEPS;LABELS" ${ARGN})
    _kvel_existing(sources ${ARG_SOURCES})
    if(sources)
        add_executable(${name} ${sources})
        set_target_properties(${name} PROPERTIES AUTOMOC ON
                              RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
        target_link_libraries(${name} PRIVATE ${ARG_DEPS} Qt6::Test Qt6::Widgets Threads::Threads)
        _kvel_add_test(${name} "${ARG_SHARDS}" "${ARG_LABELS}")
    endif()
endfunction()
