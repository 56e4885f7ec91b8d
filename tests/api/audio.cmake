# The audio calls run against the real engine and its bracket, which replace
# the fake host's: the engine's archive is taken whole ahead of its ordinary
# place in the link (the script API already links it the plain way).
add_dependencies(api_audio_calls_test quillmar_mudo)
target_link_libraries(api_audio_calls_test PRIVATE
  -Wl,--whole-archive $<TARGET_FILE:quillmar_mudo> -Wl,--no-whole-archive)
