# The scene of the end-to-end drawing case, drawn in process.
target_compile_definitions(api_draw_scene_test PRIVATE
  DRAW_SCENE_LUA="${PROJECT_SOURCE_DIR}/tests/e2e/programs/draw_scene/scene.lua")
target_include_directories(api_draw_scene_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/e2e)
