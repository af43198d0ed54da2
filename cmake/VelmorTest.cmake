# One QtTest program per area, registered with CTest. Tests that need the private
# audio server, D-Bus bus or HTTP receiver get them from Tests/support/with-services; with
# PIPEWIRE they run a second time against PipeWire instead of PulseAudio (name-pipewire).
function(velmor_add_test name)
    cmake_parse_arguments(ARG "SERVICES;PIPEWIRE" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/Tests/support)
    target_compile_definitions(${name} PRIVATE VELMOR_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set(environment "QT_QPA_PLATFORM=offscreen;VELMOR_RECEIVER=$<TARGET_FILE:velmor-receiver>")
    if(ARG_SERVICES OR ARG_PIPEWIRE)
        add_test(NAME ${name}
                 COMMAND ${PROJECT_SOURCE_DIR}/Tests/support/with-services $<TARGET_FILE:${name}>)
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "${environment}")
    if(ARG_PIPEWIRE)
        add_test(NAME ${name}-pipewire
                 COMMAND ${PROJECT_SOURCE_DIR}/Tests/support/with-services $<TARGET_FILE:${name}>)
        set_tests_properties(${name}-pipewire PROPERTIES TIMEOUT ${ARG_TIMEOUT}
            ENVIRONMENT "${environment};VELMOR_AUDIO_SERVER=pipewire")
    endif()
endfunction()
