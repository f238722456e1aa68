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

# kvel_gtest(name SOURCES ... DEPS ... [LABELS ...]): one GoogleTest program,
# registered with ctest as a whole.
function(kvel_gtest name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
    _kvel_existing(sources ${ARG_SOURCES})
    if(sources)
        add_executable(${name} ${sources})
        target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main Threads::Threads)
        set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                             LABELS "${ARG_LABELS}")
    endif()
endfunction()

# kvel_qtest(name SOURCES ... DEPS ...): one Qt Test program, offscreen.
function(kvel_qtest name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
    _kvel_existing(sources ${ARG_SOURCES})
    if(sources)
        add_executable(${name} ${sources})
        set_target_properties(${name} PROPERTIES AUTOMOC ON
                              RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
        target_link_libraries(${name} PRIVATE ${ARG_DEPS} Qt6::Test Qt6::Widgets Threads::Threads)
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                             LABELS "${ARG_LABELS}")
    endif()
endfunction()
