# Dropped files go through the real file system and its test fixture.
target_link_libraries(platform_dropped_file_test PRIVATE pdisk_test_support quillmar_fake_host)
