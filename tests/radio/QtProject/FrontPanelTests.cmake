# Front-panel tests: the key state machine, the display, the main window's
# controls and the settings dialog, run inside an offscreen QApplication.
include(GoogleTest)
add_library(rvx_widget_test_main STATIC ${CMAKE_CURRENT_LIST_DIR}/WidgetTestMain.cpp)
target_link_libraries(rvx_widget_test_main PUBLIC Qt6::Widgets GTest::gtest)

function(rvx_add_widget_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE rvx_frontpanel rvx_widget_test_main Qt6::Test)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

rvx_add_widget_test(ui_handler_test ${CMAKE_CURRENT_LIST_DIR}/UiHandlerTest.cpp)
rvx_add_widget_test(lcd_test ${CMAKE_CURRENT_LIST_DIR}/LcdTest.cpp)
# Pictures of every screen of the panel, as the readability test saw them.
target_compile_definitions(lcd_test PRIVATE PANEL_SCREENS_ARTEFACTS="${CMAKE_CURRENT_BINARY_DIR}/front-panel-screens")
rvx_add_widget_test(main_window_test ${CMAKE_CURRENT_LIST_DIR}/MainWindowTest.cpp)
rvx_add_widget_test(talkbox_settings_test ${CMAKE_CURRENT_LIST_DIR}/TalkboxSettingsTest.cpp)

# Real input on an X server of the test's own: the knobs, the talk-group
# list and the settings dialog's coordinates, pressed, turned and typed by
# xdotool.
add_executable(front_panel_input_test ${CMAKE_CURRENT_LIST_DIR}/FrontPanelInputTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XvfbWidgetTestMain.cpp)
target_link_libraries(front_panel_input_test PRIVATE rvx_frontpanel rvx_test_support Qt6::Test GTest::gtest)
gtest_discover_tests(front_panel_input_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)

# The real program's registration gate against the simulator.
rvx_add_test(registration_gate_test QT SOURCES ${CMAKE_CURRENT_LIST_DIR}/RegistrationGateTest.cpp
  LIBS rvx_test_management_sim rvx_test_http Qt6::Core)
target_compile_definitions(registration_gate_test PRIVATE RADIO_PROGRAM_PATH="$<TARGET_FILE:RVX4400w>")
add_dependencies(registration_gate_test RVX4400w)
rvx_add_widget_test(hardware_signal_manager_test ${CMAKE_CURRENT_LIST_DIR}/HardwareSignalManagerTest.cpp)
rvx_add_test(unit_reboot_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/UnitRebootTest.cpp LIBS rvx_platform)

# The whole program on an X server, pressed by real pointer events, alone and
# as two units in two network namespaces where one hears the other; the home
# screen pictures are left in the build folder.
rvx_add_test(whole_program_test QT SOURCES ${CMAKE_CURRENT_LIST_DIR}/WholeProgramTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TwoProgramsTest.cpp ${CMAKE_CURRENT_LIST_DIR}/RegisteredRadio.cpp
  LIBS rvx_test_management_sim rvx_test_http rvx_test_support rvx_relay_process Qt6::Gui LABELS media)
target_include_directories(whole_program_test PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../media)
target_compile_definitions(whole_program_test PRIVATE RADIO_PROGRAM_PATH="$<TARGET_FILE:RVX4400w>"
  WHOLE_PROGRAM_ARTEFACTS="${CMAKE_CURRENT_BINARY_DIR}")
add_dependencies(whole_program_test RVX4400w halvane-relay rvx-management-sim)

# The program's start-up in the test process: a manual position set in the
# settings dialog reaches the radio's views and the management service.
rvx_add_widget_test(manual_location_test ${CMAKE_CURRENT_LIST_DIR}/ManualLocationTest.cpp)
target_link_libraries(manual_location_test PRIVATE rvx_test_management_sim rvx_test_http rvx_test_support)

# The radio on an X server in a network namespace of the test: keyboard
# push-to-talk and knob keys through real key events, and one radio per data
# folder, where a second start raises the first radio's window.
add_executable(desktop_test ${CMAKE_CURRENT_LIST_DIR}/DesktopTest.cpp)
target_link_libraries(desktop_test PRIVATE rvx_frontpanel rvx_test_support rvx_test_http GTest::gtest Qt6::Test)
target_compile_definitions(desktop_test PRIVATE RADIO_PROGRAM_PATH="$<TARGET_FILE:RVX4400w>"
  RVX_DESKTOP_ENTRY="${PROJECT_SOURCE_DIR}/radio/desktop/rvx4400w.desktop")
add_dependencies(desktop_test RVX4400w)
gtest_discover_tests(desktop_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 180)
