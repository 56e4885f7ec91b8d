/*
** print's output: written to standard output and charged by its bytes.
*/
#include "print_output.h"

#include <stddef.h>
#include <stdio.h>

#include "host_yield.h"
#include "vm_hooks.h"

/* At least a cycle a write: print writes each value, the tabs between them
   and the line's end apart. A text is charged before it is written, so one
   too long for the watchdog's margin raises with nothing written. */
void vm_write_output(lua_State *L, const char *s, size_t l) {
    const size_t cycles = l / VM_OUTPUT_BYTES_PER_CYCLE;
    host_charge_check(L, cycles > (size_t)(INT32_MAX / 2) ? INT32_MAX / 2 : (int32_t)cycles);
    fwrite(s, sizeof(char), l, stdout);
}

void vm_write_line(void) {
    fwrite("\n", sizeof(char), 1, stdout);
    fflush(stdout);
    spend_cpu(VM_OUTPUT_LINE_CYCLES);
}
