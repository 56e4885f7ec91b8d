# The real window under X11: each test runs in its own virtual X server.
# Mesa and the X libraries, loaded and unloaded by SDL, leave allocations
# LeakSanitizer cannot attribute, so leak checking is off for these runs;
# the dummy-driver runs of the same code keep it.
find_package(X11 REQUIRED)
quillmar_test(platform_x11_window LABEL window SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/x11_window.cpp
  LIBS "$<LINK_GROUP:RESCAN,${platform_group_list}>" X11::X11 X11::Xtst
  LAUNCHER env SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy DBUS_SESSION_BUS_ADDRESS=disabled:
           LSAN_OPTIONS=detect_leaks=0 ${PROJECT_SOURCE_DIR}/tools/xvfb-test)
target_include_directories(platform_x11_window PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
