# Pod tests need the pod library and a Lua state with typed arrays: the
# typed-array fixture links the whole typed-array library over the fake
# host's weak initialiser, so that library's feature wins for these targets.
add_library(pod_fixture STATIC ${CMAKE_CURRENT_SOURCE_DIR}/pod_fixture.cpp)
target_link_libraries(pod_fixture PUBLIC quillmar_formats ud_fixture)
set_property(TARGET pod_fixture PROPERTY LINK_LIBRARY_OVERRIDE_quillmar_userdata WHOLE_ARCHIVE)
foreach(src ${folder_tests})
  get_filename_component(name ${src} NAME_WE)
  if(name MATCHES "^pod_")
    target_link_libraries(formats_${name} PRIVATE pod_fixture)
    set_property(TARGET formats_${name} PROPERTY LINK_LIBRARY_OVERRIDE_quillmar_userdata WHOLE_ARCHIVE)
  endif()
endforeach()
