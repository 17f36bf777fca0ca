# Helpers shared by every target of the project.

# Warnings apply to our own code only; Qt and Qwt come in as imported targets, i.e. as system headers.
function(gyrovane_warnings target)
    target_compile_options(${target} PRIVATE
        $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wshadow -Wpedantic>
        $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra -Wshadow -Wpedantic>)
    # Qt's qCDebug(category) without further arguments is a GNU variadic-macro extension to clang.
    if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        target_compile_options(${target} PRIVATE
            $<$<COMPILE_LANGUAGE:CXX>:-Wno-gnu-zero-variadic-macro-arguments>)
    endif()
endfunction()

# gyrovane_add_test(NAME tst_x SOURCES a.cpp LIBS lib... [LABEL unit|gui|e2e] [TIMEOUT s] [XVFB]
#                   [WRAPPER command...])
# One QtTest executable per topic, registered with ctest under its label and with its own time-out.
# XVFB runs it under xvfb-run for tests that need a real display (OpenGL, window geometry); WRAPPER
# runs it through another command (which ends with the test's path).
function(gyrovane_add_test)
    cmake_parse_arguments(T "XVFB" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS;WRAPPER" ${ARGN})
    if(NOT T_LABEL)
        set(T_LABEL unit)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 60)
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE Qt5::Test ${T_LIBS})
    target_compile_definitions(${T_NAME} PRIVATE
        GYROVANE_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
        GYROVANE_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
    gyrovane_warnings(${T_NAME})
    set(env "QT_QPA_PLATFORM=offscreen")
    if(T_XVFB)
        # The test command runs everything offscreen; these need the X server that xvfb-run starts.
        set(env "QT_QPA_PLATFORM=xcb")
    endif()
    if(GYROVANE_SANITIZE AND T_XVFB)
        # Mesa's driver is unloaded before the leak check, so its allocations cannot even be named.
        list(APPEND env "ASAN_OPTIONS=detect_leaks=0")
    elseif(GYROVANE_SANITIZE)
        list(APPEND env "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/cmake/lsan.supp:print_suppressions=0")
    endif()
    if(GYROVANE_TSAN)
        list(APPEND env "TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/cmake/tsan.supp:halt_on_error=1:second_deadlock_stack=1")
    endif()
    if(T_XVFB)
        find_program(XVFB_RUN xvfb-run)
        if(XVFB_RUN)
            add_test(NAME ${T_NAME} COMMAND ${XVFB_RUN} -a -s "-screen 0 1920x1080x24" $<TARGET_FILE:${T_NAME}>)
        else()
            add_test(NAME ${T_NAME} COMMAND ${T_NAME})
        endif()
    elseif(T_WRAPPER)
        add_test(NAME ${T_NAME} COMMAND ${T_WRAPPER} $<TARGET_FILE:${T_NAME}>)
    else()
        add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    endif()
    set_tests_properties(${T_NAME} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}")
endfunction()
