# GoogleTest, built with the same toolchain as the program, and the test
# executables. Under cross-compilation CTest runs them through Wine.

# The tests are built only where GoogleTest is: its sources (Debian's, or
# any named by TARNWICK_GTEST_SOURCE_DIR), or an installed package (vcpkg's,
# for example). Without it the program still configures and builds.
set(TARNWICK_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
if(EXISTS "${TARNWICK_GTEST_SOURCE_DIR}/CMakeLists.txt")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory("${TARNWICK_GTEST_SOURCE_DIR}" googletest EXCLUDE_FROM_ALL)
else()
    find_package(GTest CONFIG QUIET)
    if(NOT GTest_FOUND)
        message(STATUS "GoogleTest not found: the tests are not built. Name its sources with "
                       "-DTARNWICK_GTEST_SOURCE_DIR=... or install it to build them.")
        return()
    endif()
    add_library(gtest_main ALIAS GTest::gtest_main)
    add_library(gtest ALIAS GTest::gtest)
endif()

if(TARNWICK_RUN_TESTS_UNDER_WINE)
    set(TARNWICK_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
    configure_file(cmake/wine-run.sh.in "${CMAKE_BINARY_DIR}/wine-run" @ONLY
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                         WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_BINARY_DIR}/wine-run")
endif()

# Fakes and observers of the OS seam shared by every test executable.
file(GLOB support_sources CONFIGURE_DEPENDS tests/support/*.cpp)
add_library(tarnwick_test_support STATIC ${support_sources})
target_link_libraries(tarnwick_test_support PUBLIC tarnwick_ui gtest)

# Few executables, grouped by subsystem, so that Wine start-up does not
# dominate the run.
function(tarnwick_test_executable name)
    file(GLOB sources CONFIGURE_DEPENDS ${ARGN})
    if(NOT sources)
        return()
    endif()
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE tarnwick_test_support gtest_main)
    add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
    set_tests_properties(${name} PROPERTIES TIMEOUT 900
        ENVIRONMENT "TARNWICK_SOURCE_DIR=${CMAKE_SOURCE_DIR};TARNWICK_BINARY_DIR=${CMAKE_BINARY_DIR}")
endfunction()

tarnwick_test_executable(engine_tests tests/engine/*.cpp)
tarnwick_test_executable(jobs_tests tests/jobs/*.cpp)
tarnwick_test_executable(ui_tests tests/ui/*.cpp)

# Tests that show the main window, in-process or as the real .exe, find it by
# class and title, so two of them must never run at once.
set_tests_properties(ui_tests PROPERTIES RESOURCE_LOCK main_window)

# End-to-end checks of the real .exe and of things Linux has to set up
# (mounted volumes); they are shell scripts that drive Wine themselves, and
# are registered only where the tests run under Wine, with the small Windows
# programs used around them: one keeps Wine warm during a run, one starts,
# inspects and closes the real program.
if(NOT TARNWICK_RUN_TESTS_UNDER_WINE)
    return()
endif()
file(GLOB e2e_scripts CONFIGURE_DEPENDS tests/e2e/*.sh)
foreach(script ${e2e_scripts})
    get_filename_component(script_name ${script} NAME_WE)
    add_test(NAME e2e_${script_name} COMMAND bash ${script})
    set_tests_properties(e2e_${script_name} PROPERTIES TIMEOUT 900 SKIP_RETURN_CODE 77 RESOURCE_LOCK main_window
        ENVIRONMENT "TARNWICK_SOURCE_DIR=${CMAKE_SOURCE_DIR};TARNWICK_BINARY_DIR=${CMAKE_BINARY_DIR};TARNWICK_EXE=$<TARGET_FILE:TarnwickFileEraser>")
endforeach()

add_executable(wine_keepalive WIN32 scripts/tools/wine_keepalive.cpp)
target_link_libraries(wine_keepalive PRIVATE tarnwick_options shell32)
add_tool(window_probe tests/tools/window_probe.cpp)
