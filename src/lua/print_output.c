/*
** print's output: written to standard output and charged by its bytes.
*/
#include "print_output.h"

#include <stddef.h>
#include <stdio.h>

#include "vm_hooks.h"

/* Bytes of print's output a cycle. */
#define PRINT_BYTES_PER_CYCLE 64

/* At least a cycle a write: print writes each value, the tabs between them
   and the line's end apart. */
void vm_write_output(const char *s, size_t l) {
    fwrite(s, sizeof(char), l, stdout);
    const size_t cycles = l / PRINT_BYTES_PER_CYCLE;
    spend_cpu(cycles > (size_t)(INT32_MAX / 2) ? INT32_MAX / 2 : (int32_t)cycles);
}

void vm_write_line(void) {
    fwrite("\n", sizeof(char), 1, stdout);
    fflush(stdout);
    spend_cpu(VM_OUTPUT_LINE_CYCLES);
}
