/*
** The slice counters and the CPU charge shared by the interpreter, the
** allocator and the host functions.
*/
#include "vm_hooks.h"

int32_t cpu_cycles = 0;
int32_t cpu_cycles_max = 0;
int32_t cpu_superyielding = 0;

void spend_cpu(int32_t n) {
    if (n < 0) return;
    if (n == 0) n = 1;
    /* saturate instead of wrapping: a negative count would never yield */
    if (cpu_cycles >= VM_CYCLES_CAP - n)
        cpu_cycles = VM_CYCLES_CAP;
    else
        cpu_cycles += n;
}

static uint8_t zero_peek(uint32_t addr) { (void)addr; return 0; }
static int16_t zero_peek2(uint32_t addr) { (void)addr; return 0; }
static int32_t zero_peek4(uint32_t addr) { (void)addr; return 0; }
static int64_t zero_peek8(uint32_t addr) { (void)addr; return 0; }

vm_peek_hooks vm_peek = {zero_peek, zero_peek2, zero_peek4, zero_peek8};

void vm_reset_peek_hooks(void) {
    vm_peek.peek = zero_peek;
    vm_peek.peek2 = zero_peek2;
    vm_peek.peek4 = zero_peek4;
    vm_peek.peek8 = zero_peek8;
}
