# Image cartridges: the label text comes from the graphics library (linked
# whole, so its renderer wins over the fake host's), the template from the
# tool that draws it.
if(TARGET pdisk_kiv_png_test)
  target_link_libraries(pdisk_kiv_png_test PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,quillmar_gfx>" cart_template)
  target_compile_definitions(pdisk_kiv_png_test PRIVATE QUILLMAR_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endif()
