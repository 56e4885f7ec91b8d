# The interpreter's tests look into thread state and compiled functions through
# a small C probe, compiled with the Lua core's own headers.
add_library(lua_vm_probe STATIC ${CMAKE_CURRENT_LIST_DIR}/vm_probe.c)
target_link_libraries(lua_vm_probe PUBLIC quillmar_lua)
foreach(name vm_budget_test vm_ops_test vm_forced_yield_test)
  if(TARGET lua_${name})
    target_link_libraries(lua_${name} PRIVATE lua_vm_probe)
  endif()
endforeach()
if(TARGET lua_vm_forced_yield_test)
  target_compile_definitions(lua_vm_forced_yield_test PRIVATE
    VM_CORPUS_DIR="${CMAKE_CURRENT_LIST_DIR}/forced_yield")
endif()
