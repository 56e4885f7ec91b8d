/*
** Hooks between the virtual machine and the host's runtime: the slice
** counters, the CPU charge and the reads of a process's address space.
** C linkage: included by the Lua core (compiled as C) and by the host.
*/
#ifndef QUILLMAR_VM_HOOKS_H
#define QUILLMAR_VM_HOOKS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One frame of virtual CPU time, in cycles. */
#define VM_FRAME_CYCLES 279620

/* Value of cpu_superyielding that ends the running slice at the next fetch. */
#define VM_SUPERYIELD 0x40000000

/*
** The slice counters. The interpreter compares (cpu_cycles | cpu_superyielding)
** against cpu_cycles_max as signed 32-bit values before every instruction.
** cpu_cycles never wraps: charges saturate at VM_CYCLES_CAP, which leaves head
** room for the few cycles the interpreter adds before it yields or raises.
*/
extern int32_t cpu_cycles;        /* cycles counted in the running slice */
extern int32_t cpu_cycles_max;    /* budget of the running slice */
extern int32_t cpu_superyielding; /* 0, or VM_SUPERYIELD */

#define VM_CYCLES_CAP 0x7FFFFF00

/*
** A thread that cannot yield may overrun its budget; once it is this far past
** it, the interpreter raises VM_WATCHDOG_MESSAGE in that thread. Ten frames'
** budget: the most debt a slice pays back, and a stall the host can bear.
*/
#define VM_WATCHDOG_MARGIN (10 * VM_FRAME_CYCLES)
#define VM_WATCHDOG_MESSAGE "cpu budget exceeded in a call that cannot yield"

/* What the interpreter charges for calling a debug hook, besides what the
   hook's own code costs. */
#define VM_HOOK_CYCLES 16

/* A step of the host's own walk of a table (lua_next): what the same step
   of a program's 'pairs' loop pays, its TFORCALL (which runs its TFORLOOP
   without a fetch of its own). */
#define VM_WALK_STEP_CYCLES 2

/*
** Rates of the charges for work the libraries do in proportion to what they
** were given: bytes copied, scanned or converted; table slots walked or
** values moved; steps of the pattern matcher.
*/
#define VM_BYTES_PER_CYCLE 32
#define VM_SLOTS_PER_CYCLE 8
#define VM_MATCH_STEPS_PER_CYCLE 4
/* a line written out to standard output at once (flushed): a write to its
   file */
#define VM_OUTPUT_LINE_CYCLES 128
/* bytes written to standard output a cycle: a pipe takes about 190 MB/s of
   the writer's time when its reader shares the processor, 5 ns a byte */
#define VM_OUTPUT_BYTES_PER_CYCLE 2
/* bytes of an error message the core or a library makes a cycle: its text
   formatted a piece at a time */
#define VM_MESSAGE_BYTES_PER_CYCLE 2
/* bytes of a numeral converted to a number a cycle */
#define VM_NUMERAL_BYTES_PER_CYCLE 8
/* bytes of heap a process's closing frees a cycle: each object freed */
#define VM_GC_BYTES_PER_CYCLE 32

/* Charges the running slice: nothing when n < 0, 1 when n is 0 or 1, else n. */
void spend_cpu(int32_t n);

/*
** Reads of the running process's address space, behind the peek operators.
** The runtime installs its own; until then they read zeros.
*/
typedef struct vm_peek_hooks {
    uint8_t (*peek)(uint32_t addr);  /* 1 byte, 0..255 */
    int16_t (*peek2)(uint32_t addr); /* 16 bits */
    int32_t (*peek4)(uint32_t addr); /* 32 bits */
    int64_t (*peek8)(uint32_t addr); /* 64 bits */
} vm_peek_hooks;

extern vm_peek_hooks vm_peek;

/* Restores the peek hooks that read zeros. */
void vm_reset_peek_hooks(void);

#ifdef __cplusplus
}
#endif

#endif
