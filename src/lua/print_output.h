/*
** print's output charged by its bytes. The base library is compiled with
** this header in front, so the lua_writestring its print writes through is
** this one, given print's state L. Nothing here may include a system header:
** the library's own prefix must come before any.
*/
#ifndef QUILLMAR_PRINT_OUTPUT_H
#define QUILLMAR_PRINT_OUTPUT_H

#ifdef __cplusplus
extern "C" {
#endif

struct lua_State;

/* Writes the 'l' bytes at 's' to standard output for print, running in L,
   and charges them. */
void vm_write_output(struct lua_State *L, const char *s, __SIZE_TYPE__ l);

/* Ends print's line: writes it out at once (flushed), and charges that. */
void vm_write_line(void);

#ifdef __cplusplus
}
#endif

#define lua_writestring(s, l) vm_write_output(L, (s), (l))
#define lua_writeline() vm_write_line()

#endif
