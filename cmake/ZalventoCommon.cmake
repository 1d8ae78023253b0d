# Compile settings shared by every target of the project.
add_library(zalvento_options INTERFACE)
target_compile_features(zalvento_options INTERFACE cxx_std_20)
target_compile_options(zalvento_options INTERFACE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
target_compile_definitions(zalvento_options INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_FOREACH)
target_include_directories(zalvento_options INTERFACE ${PROJECT_SOURCE_DIR})

# zalvento_add_test(<name> SOURCES <files...> LIBS <libs...> [LABELS <labels...>] [TIMEOUT <s>])
# One test executable per unit, linked to the library under test and QtTest only. Tests run headless.
function(zalvento_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE zalvento_options Qt6::Test ${T_LIBS})
    # Tests compare with plain string literals a lot; the strict cast rule guards the program's code.
    target_compile_options(${name} PRIVATE -UQT_NO_CAST_FROM_ASCII)
    target_compile_definitions(${name} PRIVATE
        ZALVENTO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        ZALVENTO_BINARY_DIR="${PROJECT_BINARY_DIR}")
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;XDG_CONFIG_HOME=${PROJECT_BINARY_DIR}/test-config"
        TIMEOUT ${T_TIMEOUT})
    if(T_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
endfunction()
