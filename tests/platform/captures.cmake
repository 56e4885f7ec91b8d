# The capture tests fail host writes through the file system's test seam.
foreach(t platform_capture_files_test platform_gif_record_test platform_audio_capture_test)
  if(TARGET ${t})
    target_sources(${t} PRIVATE ${CMAKE_SOURCE_DIR}/tests/pdisk/fault_fs.cpp)
    target_include_directories(${t} PRIVATE ${CMAKE_SOURCE_DIR}/tests/pdisk)
    target_link_libraries(${t} PRIVATE gif lodepng)
  endif()
endforeach()
# The audio capture test brings its own audio lock over a real device.
if(TARGET platform_audio_capture_test)
  target_link_options(platform_audio_capture_test PRIVATE -Wl,--allow-multiple-definition)
endif()
