# Small helpers shared by every folder's CMakeLists.txt.

set(ORVIK_WITH_DISPLAY ${PROJECT_SOURCE_DIR}/tests/support/with_display.sh)

# orvik_library(NAME SOURCES ... [LIBS ...]) — a static library of one subsystem; the
# include root is src/, so code includes "recordings/telemetry.h".
function(orvik_library name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${A_LIBS})
endfunction()

# orvik_gtest(NAME SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s] [ARGS ...] [GUI] [NO_CTEST])
# A GoogleTest program registered with CTest, with tests/support linked. Its main (the shared
# one unless a source defines its own) exits 77 when a case was skipped, which ctest shows as
# skipped. GUI tests run on a virtual X server of their own (tests/support/with_display.sh) with a
# 1920 x 1080 screen, so they can run side by side although some move the pointer or read the screen.
# ARGS go to the program when ctest runs it; NO_CTEST builds a program ctest does not run (the
# screenshot generators, run by scripts/screenshots.sh).
function(orvik_gtest name)
  cmake_parse_arguments(A "GUI;NO_CTEST" "TIMEOUT" "SOURCES;LIBS;LABELS;ARGS" ${ARGN})
  find_package(GTest REQUIRED)
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${A_LIBS} orvik_test_support orvik_test_main GTest::gtest
                        GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    ORVIK_SOURCE_DIR="${PROJECT_SOURCE_DIR}" ORVIK_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(A_NO_CTEST)
    return()
  endif()
  if(A_GUI)
    add_test(NAME ${name} COMMAND ${ORVIK_WITH_DISPLAY} 1920x1080 $<TARGET_FILE:${name}> ${A_ARGS})
  else()
    add_test(NAME ${name} COMMAND ${name} ${A_ARGS})
  endif()
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  set(labels ${A_LABELS})
  if(A_GUI)
    list(APPEND labels gui)
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT
      "QTWEBENGINE_DISABLE_SANDBOX=1" "QT_QPA_PLATFORM=xcb" "LIBGL_ALWAYS_SOFTWARE=1")
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT} SKIP_RETURN_CODE 77)
  if(labels)
    set_tests_properties(${name} PROPERTIES LABELS "${labels}")
  endif()
  orvik_test_cost(${name})
endfunction()

# orvik_test_cost(NAME) — the test's COST from ORVIK_TEST_COSTS (tests/CMakeLists.txt), if listed.
function(orvik_test_cost name)
  list(FIND ORVIK_TEST_COSTS ${name} at)
  if(at GREATER_EQUAL 0)
    math(EXPR at "${at} + 1")
    list(GET ORVIK_TEST_COSTS ${at} cost)
    set_tests_properties(${name} PROPERTIES COST ${cost})
  endif()
endfunction()

# orvik_fuzz_target(NAME SOURCES ... LIBS ...) — with ORVIK_FUZZ a libFuzzer program NAME
# (scripts/fuzz.sh runs it); otherwise NAME_replay, which a ctest test NAME_corpus runs once over
# every input of fuzz/corpus/NAME/.
function(orvik_fuzz_target name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  if(ORVIK_FUZZ)
    add_executable(${name} ${A_SOURCES})
    target_link_libraries(${name} PRIVATE ${A_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${name}_replay ${A_SOURCES} ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
    target_link_libraries(${name}_replay PRIVATE ${A_LIBS})
    add_test(NAME ${name}_corpus
             COMMAND ${name}_replay ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
    set_tests_properties(${name}_corpus PROPERTIES LABELS fuzz TIMEOUT 300)
  endif()
endfunction()

# orvik_gui_test_on_screen(NAME TARGET WIDTHxHEIGHT [WM] [ARGS...]) — the GUI test program TARGET
# once more, on a screen of that size; with WM, under the openbox window manager there
# (tests/support/with_openbox.sh).
function(orvik_gui_test_on_screen name target size)
  set(args ${ARGN})
  set(wm)
  if(args AND "${ARGV3}" STREQUAL "WM")
    list(REMOVE_AT args 0)
    set(wm ${PROJECT_SOURCE_DIR}/tests/support/with_openbox.sh)
  endif()
  add_test(NAME ${name} COMMAND ${ORVIK_WITH_DISPLAY} ${size} ${wm} $<TARGET_FILE:${target}> ${args})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600 LABELS gui SKIP_RETURN_CODE 77
    ENVIRONMENT "QTWEBENGINE_DISABLE_SANDBOX=1;QT_QPA_PLATFORM=xcb;LIBGL_ALWAYS_SOFTWARE=1")
  orvik_test_cost(${name})
endfunction()

# orvik_widgets_pch(TARGET) — TARGET compiles against the precompiled QtWidgets headers made for
# orvik_ui_common: they are most of a widget source's compile time. GCC takes a precompiled
# header only where the macros it was made with are defined alike (and -fPIC matches), so this is
# for widget libraries without macros of their own; with -Werror a mismatch fails the build
# (-Winvalid-pch) instead of quietly parsing the headers again.
# (Deferred to the end of the top folder: orvik_ui_common comes later in the layering.)
function(orvik_widgets_pch target)
  cmake_language(EVAL CODE "cmake_language(DEFER DIRECTORY [[${PROJECT_SOURCE_DIR}]]
    CALL target_precompile_headers [[${target}]] REUSE_FROM orvik_ui_common)")
endfunction()
