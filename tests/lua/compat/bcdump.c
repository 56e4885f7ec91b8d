/*
** Prints what the compiler makes of Lua source files: for every function
** prototype its header, upvalues, constants, instructions (opcode, the
** operand bits and the line) and local variables.
**
** Built twice by the tests, once against Debian's Lua tree and once against
** the dialect's, so that the two compilers can be compared on the same
** standard sources. Usage: bcdump FILE...; exit status 1 when a file cannot
** be read or compiled.
*/
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lauxlib.h"
#include "lua.h"

#include "ldebug.h"
#include "lobject.h"
#include "lopcodes.h"
#include "lstate.h"


/* A string constant or name, bytes outside printable ASCII as \ddd. */
static void print_bytes (const char *s, size_t len) {
  size_t i;
  putchar('"');
  for (i = 0; i < len; i++) {
    unsigned char c = (unsigned char)s[i];
    if (c >= 32 && c < 127 && c != '"' && c != '\\') putchar(c);
    else printf("\\%03u", c);
  }
  putchar('"');
}


static void print_name (const TString *ts) {
  if (ts == NULL) printf("(none)");
  else print_bytes(getstr(ts), tsslen(ts));
}


static void print_constant (const TValue *k) {
  switch (ttypetag(k)) {
    case LUA_VNIL: printf("nil"); break;
    case LUA_VFALSE: printf("false"); break;
    case LUA_VTRUE: printf("true"); break;
    case LUA_VNUMINT: printf("int %lld", (long long)ivalue(k)); break;
    case LUA_VNUMFLT: printf("float %a", (double)fltvalue(k)); break;
    case LUA_VSHRSTR: case LUA_VLNGSTR:
      printf("string ");
      print_name(tsvalue(k));
      break;
    default: printf("tag %d", ttypetag(k)); break;
  }
}


/* Prints prototype 'p', named 'path', and then its nested prototypes. */
static void dump_proto (const Proto *p, const char *path) {
  int i;
  printf("function %s lines %d-%d params %d vararg %d stack %d\n", path,
         p->linedefined, p->lastlinedefined, p->numparams, p->is_vararg,
         p->maxstacksize);
  for (i = 0; i < p->sizeupvalues; i++) {
    const Upvaldesc *u = &p->upvalues[i];
    printf("upvalue %d ", i);
    print_name(u->name);
    printf(" instack %d idx %d kind %d\n", u->instack, u->idx, u->kind);
  }
  for (i = 0; i < p->sizek; i++) {
    printf("constant %d ", i);
    print_constant(&p->k[i]);
    putchar('\n');
  }
  for (i = 0; i < p->sizecode; i++) {
    Instruction ins = p->code[i];
    printf("%d op %d args %07lx line %d\n", i, (int)GET_OPCODE(ins),
           (unsigned long)(ins >> POS_A), luaG_getfuncline(p, i));
  }
  for (i = 0; i < p->sizelocvars; i++) {
    const LocVar *v = &p->locvars[i];
    printf("local ");
    print_name(v->varname);
    printf(" pc %d-%d\n", v->startpc, v->endpc);
  }
  for (i = 0; i < p->sizep; i++) {
    char sub[512];
    snprintf(sub, sizeof sub, "%s.%d", path, i);
    dump_proto(p->p[i], sub);
  }
}


/* Reads all of 'name'; returns a malloc'ed buffer (length in *len) or NULL. */
static char *read_file (const char *name, size_t *len) {
  FILE *f = fopen(name, "rb");
  char *buf = NULL;
  long n;
  if (f == NULL) return NULL;
  if (fseek(f, 0, SEEK_END) == 0 && (n = ftell(f)) >= 0 && fseek(f, 0, SEEK_SET) == 0) {
    buf = (char *)malloc((size_t)n + 1);
    if (buf != NULL && fread(buf, 1, (size_t)n, f) != (size_t)n) {
      free(buf);
      buf = NULL;
    }
    *len = (size_t)n;
  }
  fclose(f);
  return buf;
}


int main (int argc, char **argv) {
  int i, status = 0;
  lua_State *L = luaL_newstate();
  if (L == NULL) return 1;
  for (i = 1; i < argc && status == 0; i++) {
    size_t len = 0;
    char *src = read_file(argv[i], &len);
    if (src == NULL) {
      fprintf(stderr, "bcdump: cannot read %s\n", argv[i]);
      status = 1;
    }
    else if (luaL_loadbufferx(L, src, len, "=chunk", "t") != LUA_OK) {
      fprintf(stderr, "bcdump: %s: %s\n", argv[i], lua_tostring(L, -1));
      status = 1;
    }
    else {
      printf("file %s\n", argv[i]);
      dump_proto(clLvalue(s2v(L->top - 1))->p, "main");
    }
    lua_settop(L, 0);
    free(src);
  }
  lua_close(L);
  return status;
}
