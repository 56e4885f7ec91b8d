# The Lua tree (Debian's lua5.4 with the dialect patches) lives in build/lua/src,
# made by third_party/lua/fetch. Configuring runs the fetch, so a change to the
# patch series re-applies it before the next build.

set(LUA_FETCH ${PROJECT_SOURCE_DIR}/third_party/lua/fetch)
execute_process(COMMAND ${LUA_FETCH} RESULT_VARIABLE lua_fetch_result)
if(NOT lua_fetch_result EQUAL 0)
  message(FATAL_ERROR "third_party/lua/fetch failed: the Lua tree could not be made")
endif()

set(LUA_TREE ${PROJECT_SOURCE_DIR}/build/lua/src CACHE INTERNAL "patched Lua tree")
set(LUA_PRISTINE_TREE ${PROJECT_SOURCE_DIR}/build/lua/pristine CACHE INTERNAL "Debian's Lua tree")

file(GLOB lua_patches ${PROJECT_SOURCE_DIR}/third_party/lua/patches/*)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${lua_patches} ${LUA_FETCH})

# The core and the libraries we build; lua.c, luac.c, liolib.c, loslib.c and
# loadlib.c are left out.
set(LUA_CORE_FILES
  lapi.c lcode.c lctype.c ldebug.c ldo.c ldump.c lfunc.c lgc.c llex.c lmem.c
  lobject.c lopcodes.c lparser.c lstate.c lstring.c ltable.c ltm.c lundump.c
  lvm.c lzio.c lauxlib.c lbaselib.c lcorolib.c ldblib.c lmathlib.c lstrlib.c
  ltablib.c lutf8lib.c linit.c)
