# qlua end to end: the test runs the built tool, whose path it is given.
add_executable(lua_qlua_e2e ${CMAKE_CURRENT_LIST_DIR}/qlua_e2e.cpp)
target_link_libraries(lua_qlua_e2e PRIVATE GTest::gtest GTest::gtest_main)
target_compile_definitions(lua_qlua_e2e PRIVATE QLUA_PATH="$<TARGET_FILE:qlua>")
add_dependencies(lua_qlua_e2e qlua)
# One CTest test for the whole executable, so it can carry both labels.
add_test(NAME lua_qlua_e2e COMMAND lua_qlua_e2e)
set_tests_properties(lua_qlua_e2e PROPERTIES LABELS "lua;e2e" TIMEOUT 120)
