// A narrow look into the interpreter's state and prototypes for the VM tests:
// the escape flag of a thread, and the opcodes of a compiled function.
#pragma once

extern "C" {
#include "lua.h"

// yielded_to_escape_slice of thread L.
int vm_probe_escape_flag(lua_State *L);
void vm_probe_set_escape_flag(lua_State *L, int value);

// The number of opcodes, and the number of the opcode named `name` (as the
// disassembler spells it, "PEEK2"), or -1.
int vm_probe_num_opcodes(void);
int vm_probe_opcode(const char *name);
// The mode byte of opcode `op`.
int vm_probe_opmode(int op);

// Counts the instructions with opcode `op` in the Lua function at stack index
// `idx` and, when `nested`, in the functions it defines.
int vm_probe_count_opcode(lua_State *L, int idx, int op, int nested);
// Rewrites every instruction with opcode `from` in the Lua function at `idx`
// (not in nested functions) to opcode `to`, keeping the operands; returns how
// many were rewritten.
int vm_probe_replace_opcode(lua_State *L, int idx, int from, int to);
}
