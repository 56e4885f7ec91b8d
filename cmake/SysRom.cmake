# sysrom.dat beside the program, packed from rom/ again whenever a file or
# folder under rom/ changes (the glob is checked at every build).
file(GLOB_RECURSE sysrom_inputs CONFIGURE_DEPENDS LIST_DIRECTORIES true ${PROJECT_SOURCE_DIR}/rom/*)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/sysrom.dat
  COMMAND sysrom-pack --export "" --out ${CMAKE_BINARY_DIR}/sysrom.dat ${PROJECT_SOURCE_DIR}/rom
  DEPENDS sysrom-pack ${PROJECT_SOURCE_DIR}/rom ${sysrom_inputs}
  COMMENT "Packing rom/ into sysrom.dat"
  VERBATIM)
add_custom_target(sysrom ALL DEPENDS ${CMAKE_BINARY_DIR}/sysrom.dat)
