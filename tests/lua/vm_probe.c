/*
** Probe into the interpreter's state and prototypes for the VM tests.
*/
#include <string.h>

#include "lua.h"
#include "lobject.h"
#include "lopcodes.h"
#include "lopnames.h"
#include "lstate.h"

int vm_probe_escape_flag(lua_State *L) { return L->yielded_to_escape_slice; }

void vm_probe_set_escape_flag(lua_State *L, int value) { L->yielded_to_escape_slice = value; }

int vm_probe_num_opcodes(void) { return NUM_OPCODES; }

int vm_probe_opcode(const char *name) {
    for (int op = 0; opnames[op] != NULL; op++)
        if (strcmp(opnames[op], name) == 0) return op;
    return -1;
}

int vm_probe_opmode(int op) { return luaP_opmodes[op]; }

static Proto *proto_at(lua_State *L, int idx) {
    StkId slot = idx > 0 ? L->ci->func + idx : L->top + idx;
    if (slot <= L->ci->func || slot >= L->top || !ttisLclosure(s2v(slot))) return NULL;
    return clLvalue(s2v(slot))->p;
}

static int count_in(const Proto *p, int op, int nested) {
    int n = 0;
    for (int i = 0; i < p->sizecode; i++)
        if ((int)GET_OPCODE(p->code[i]) == op) n++;
    if (nested)
        for (int i = 0; i < p->sizep; i++) n += count_in(p->p[i], op, 1);
    return n;
}

int vm_probe_count_opcode(lua_State *L, int idx, int op, int nested) {
    Proto *p = proto_at(L, idx);
    return p ? count_in(p, op, nested) : -1;
}

int vm_probe_replace_opcode(lua_State *L, int idx, int from, int to) {
    Proto *p = proto_at(L, idx);
    int n = 0;
    if (p == NULL) return -1;
    for (int i = 0; i < p->sizecode; i++)
        if ((int)GET_OPCODE(p->code[i]) == from) {
            SET_OPCODE(p->code[i], to);
            n++;
        }
    return n;
}
