# The Windows build's tests run here through wine64 (label "windows"): every
# core test program, and oru-replay.exe against the Linux program's output.
# One setup test makes the wine prefix (slow the first time) and one at the
# end stops its wineserver, so nothing of wine outlives the run.
if(NOT (WIN32 AND CMAKE_CROSSCOMPILING AND ORU_WINE_PREFIX))
  return()
endif()
set(ORU_WINE_TESTS ON)
set(wine_run ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh)

add_test(NAME wine_prefix COMMAND ${wine_run} ${ORU_WINE_PREFIX} --init $<TARGET_FILE:oru_standin_hid>
                                  $<TARGET_FILE:oru_standin_setupapi>)
add_test(NAME wine_end COMMAND ${wine_run} ${ORU_WINE_PREFIX} --kill)
set_tests_properties(wine_prefix PROPERTIES LABELS windows FIXTURES_SETUP wine TIMEOUT 180)
set_tests_properties(wine_end PROPERTIES LABELS windows FIXTURES_CLEANUP wine)


# oru-replay.exe against the Linux build's oru-replay (scripts/build.sh's build/ by default).
set(ORU_LINUX_BUILD_DIR ${PROJECT_SOURCE_DIR}/build CACHE PATH
    "The Linux build whose oru-replay and oru-replay-scripts replay_windows_test uses")
add_test(NAME replay_windows_test
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/tools/replay-windows.sh ${wine_run} ${ORU_WINE_PREFIX}
                 $<TARGET_FILE:oru-replay> ${ORU_LINUX_BUILD_DIR} ${CMAKE_CURRENT_LIST_DIR}/tools/data
                 ${PROJECT_SOURCE_DIR}/fuzz/seeds/fuzz_replay)
set_tests_properties(replay_windows_test PROPERTIES LABELS windows FIXTURES_REQUIRED wine TIMEOUT 300)

# The setup program (packaging/windows): silent install for this account and
# for all, the Apps entry's silent uninstall. It changes the prefix's Run keys
# and HKCU\Software\oruDriver, so it runs alone.
option(ORU_WINDOWS_SETUP_START_CHECK
       "windows_setup_test also starts the installed driver and ends it with --quit"
       ON)
find_program(ORU_MAKENSIS makensis)
if(ORU_MAKENSIS)
  if(ORU_WINDOWS_SETUP_START_CHECK)
    set(start_check 1)
  else()
    set(start_check 0)
  endif()
  add_test(NAME windows_setup_test
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/packaging/windows_setup_test.sh ${wine_run} ${ORU_WINE_PREFIX}
                   ${CMAKE_BINARY_DIR}/oruDriver-${PROJECT_VERSION}-setup.exe ${PROJECT_VERSION}
                   ${CMAKE_BINARY_DIR}/tests/oru-wait-window.exe ${start_check})
  set_tests_properties(windows_setup_test PROPERTIES LABELS windows FIXTURES_REQUIRED wine RUN_SERIAL TRUE
                       TIMEOUT 180)
endif()

# The driver signed with a school's certificate (scripts/sign-windows.sh).
find_program(ORU_OSSLSIGNCODE osslsigncode)
if(ORU_OSSLSIGNCODE AND TARGET oru-driver)
  add_test(NAME sign_windows_test COMMAND ${CMAKE_CURRENT_LIST_DIR}/packaging/sign_windows_test.sh
                                          ${PROJECT_SOURCE_DIR}/scripts/sign-windows.sh $<TARGET_FILE:oru-driver>)
  set_tests_properties(sign_windows_test PROPERTIES LABELS windows)
endif()

# The Windows driver's tray square, menu and single instance, from the X side
# of the prefix's X server with trayer as the tray host. Alone on that server:
# another program's window must not cover the tray.
if(TARGET oru-driver)
  add_test(NAME winui_tray_and_instance_test
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/winui/tray-and-instance-test.sh ${wine_run} ${ORU_WINE_PREFIX}
                   $<TARGET_FILE:oru-driver> $<TARGET_FILE:oru-acceptance-helper>)
  set_tests_properties(winui_tray_and_instance_test PROPERTIES LABELS windows FIXTURES_REQUIRED wine
                       RUN_SERIAL TRUE TIMEOUT 120)
endif()
