# The packer test runs the sysrom-pack this build makes, and reads the
# sysrom.dat it packed.
if(TARGET pdisk_sysrom_pack_test)
  target_compile_definitions(pdisk_sysrom_pack_test PRIVATE
    SYSROM_PACK="$<TARGET_FILE:sysrom-pack>" SYSROM_DAT="${CMAKE_BINARY_DIR}/sysrom.dat")
  add_dependencies(pdisk_sysrom_pack_test sysrom-pack sysrom)
endif()
