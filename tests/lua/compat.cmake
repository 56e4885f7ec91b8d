# Compatibility differential: stock Lua's compiler and the dialect's dump the
# same standard sources (tests/lua/compat/*.lua) and the test compares them.
set(compat_dir ${CMAKE_CURRENT_SOURCE_DIR}/compat)

# Stock Lua from Debian's tree: the compiler and the auxiliary library. Its
# luaconf.h includes the multiarch header a package build would generate.
set(stock_include ${CMAKE_CURRENT_BINARY_DIR}/stock_include)
file(CONFIGURE OUTPUT ${stock_include}/lua5.4-deb-multiarch.h
     CONTENT "#define DEB_HOST_MULTIARCH \"none\"\n")
set(stock_sources
  lapi.c lcode.c lctype.c ldebug.c ldo.c ldump.c lfunc.c lgc.c llex.c lmem.c
  lobject.c lopcodes.c lparser.c lstate.c lstring.c ltable.c ltm.c lundump.c
  lvm.c lzio.c lauxlib.c)
list(TRANSFORM stock_sources PREPEND ${LUA_PRISTINE_TREE}/src/)
set_source_files_properties(${stock_sources} PROPERTIES LANGUAGE C COMPILE_OPTIONS "-w")

# Two programs, since both Luas define the same symbols.
add_executable(bcdump_stock ${compat_dir}/bcdump.c ${stock_sources})
target_include_directories(bcdump_stock PRIVATE ${LUA_PRISTINE_TREE}/src ${stock_include})
target_compile_definitions(bcdump_stock PRIVATE LUA_USE_POSIX)
target_link_libraries(bcdump_stock PRIVATE m)

add_executable(bcdump_dialect ${compat_dir}/bcdump.c)
target_link_libraries(bcdump_dialect PRIVATE quillmar_lua)

quillmar_test(lua_compat_diff LABEL lua SOURCES ${compat_dir}/compat_diff_test.cpp)
target_compile_definitions(lua_compat_diff PRIVATE
  BCDUMP_STOCK="$<TARGET_FILE:bcdump_stock>"
  BCDUMP_DIALECT="$<TARGET_FILE:bcdump_dialect>"
  COMPAT_CORPUS_DIR="${compat_dir}")
add_dependencies(lua_compat_diff bcdump_stock bcdump_dialect)
