# Dropped files go through the real file system and its test fixture.
target_link_libraries(runtime_dropped_file_test PRIVATE quillmar_runtime_drop pdisk_test_support)
