# Compile settings shared by every target of the project.
add_library(zalvento_options INTERFACE)
target_compile_features(zalvento_options INTERFACE cxx_std_20)
target_compile_options(zalvento_options INTERFACE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
target_compile_definitions(zalvento_options INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_FOREACH)
target_include_directories(zalvento_options INTERFACE ${PROJECT_SOURCE_DIR})

# zalvento_add_test(<name> SOURCES <files...> LIBS <libs...> [LABELS <labels...>] [TIMEOUT <s>]
#                   [SESSION_BUS] [ENVIRONMENT <VAR=value...>])
# One test executable per unit, linked to the library under test and QtTest only. Tests run headless.
# SESSION_BUS runs the test on a private D-Bus session bus of its own (dbus-run-session); ENVIRONMENT
# adds variables to the test's environment.
function(zalvento_add_test name)
    cmake_parse_arguments(T "SESSION_BUS" "TIMEOUT" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE zalvento_options Qt6::Test ${T_LIBS})
    # Tests compare with plain string literals a lot; the strict cast rule guards the program's code.
    target_compile_options(${name} PRIVATE -UQT_NO_CAST_FROM_ASCII)
    target_compile_definitions(${name} PRIVATE
        ZALVENTO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        ZALVENTO_BINARY_DIR="${PROJECT_BINARY_DIR}")
    if(T_SESSION_BUS)
        find_program(ZALVENTO_DBUS_RUN_SESSION dbus-run-session REQUIRED)
        add_test(NAME ${name} COMMAND ${ZALVENTO_DBUS_RUN_SESSION} -- $<TARGET_FILE:${name}>)
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    set(environment QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 XDG_CONFIG_HOME=${PROJECT_BINARY_DIR}/test-config
        ${T_ENVIRONMENT})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "${environment}"
        TIMEOUT ${T_TIMEOUT})
    if(T_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
endfunction()
