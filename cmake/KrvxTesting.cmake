# SPDX-License-Identifier: MIT
# krvx_add_test(NAME name SOURCES ... LIBS ... [LABELS ...] [ENV ...])
# One GoogleTest executable registered with CTest. Label "threaded" marks the tests that
# .ci/run also runs under ThreadSanitizer; "gui" marks tests that need Qt widgets.
include(GoogleTest)

function(krvx_add_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main krvx::warnings)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KRVX_SOCKET=/nonexistent/krvx-test-default.sock;${T_ENV}")
endfunction()
