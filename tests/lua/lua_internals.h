// Test access to the compiler's internals: a token-level run of the lexer,
// the names of the token codes, and the prototype of a compiled chunk.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

extern "C" {
#include "lctype.h"
#include "ldo.h"
#include "lfunc.h"
#include "lgc.h"
#include "llex.h"
#include "lobject.h"
#include "lopcodes.h"
#include "lstate.h"
#include "lstring.h"
#include "ltable.h"
#include "lua.h"
#include "lzio.h"
}

namespace lua_internals {

struct LexToken {
    int code;  // token code (a character, or FIRST_RESERVED and above)
    int line;  // the lexer's line counter right after the token was read
    bool operator==(const LexToken &) const = default;
};

// What the protected lexer run reads and writes; plain data only, because
// the run may leave by longjmp.
struct LexRun {
    const char *src;            // source text
    size_t len;                 // its length
    int pending_eol;            // open shorthand statements at the start
    bool given;                 // the reader has handed out the text
    Mbuffer buff;               // token buffer, freed by the caller
    static constexpr int kMax = 64;
    LexToken toks[kMax];           // tokens read, up to and including <eof>
    int n;                      // number of tokens in toks
};

inline const char *lex_reader(lua_State *, void *ud, size_t *size) {
    auto *run = static_cast<LexRun *>(ud);
    if (run->given) {
        *size = 0;
        return nullptr;
    }
    run->given = true;
    *size = run->len;
    return run->src;
}

// lua_CFunction: lexes the LexRun (light userdata at 1) to its end.
inline int lex_all(lua_State *L) {
    auto *run = static_cast<LexRun *>(lua_touserdata(L, 1));
    ZIO z;
    LexState ls{};
    luaZ_init(L, &z, lex_reader, run);
    ls.h = luaH_new(L);
    sethvalue2s(L, L->top, ls.h);  // anchor the scanner's table
    luaD_inctop(L);
    ls.buff = &run->buff;
    TString *source = luaS_new(L, "=lex");
    setsvalue2s(L, L->top, source);  // and the source name
    luaD_inctop(L);
    luaX_setinput(L, &ls, &z, source, zgetc(&z));
    ls.pending_eol = run->pending_eol;
    do {
        luaX_next(&ls);
        run->toks[run->n++] = LexToken{ls.t.token, ls.linenumber};
    } while (ls.t.token != TK_EOS && run->n < LexRun::kMax);
    return 0;
}

// The tokens of `src`, lexed with `pending_eol` open shorthand statements;
// an empty vector when the lexer raised an error (its message in *error).
inline std::vector<LexToken> lex(lua_State *L, const std::string &src, int pending_eol = 0,
                              std::string *error = nullptr) {
    LexRun run{};
    run.src = src.data();
    run.len = src.size();
    run.pending_eol = pending_eol;
    luaZ_initbuffer(L, &run.buff);
    lua_pushcfunction(L, lex_all);
    lua_pushlightuserdata(L, &run);
    int st = lua_pcall(L, 1, 0, 0);
    luaZ_freebuffer(L, &run.buff);
    if (st != LUA_OK) {
        if (error) *error = lua_tostring(L, -1);
        lua_pop(L, 1);
        return {};
    }
    return std::vector<LexToken>(run.toks, run.toks + run.n);
}

// lua_CFunction: a table of luaX_token2str for every multi-character code.
inline int token_names(lua_State *L) {
    LexState ls{};
    ls.L = L;
    lua_createtable(L, NUM_TOKENS, 0);
    int t = lua_gettop(L);
    for (int i = 0; i < NUM_TOKENS; i++) {
        // quoted names are pushed on the stack, the others are not
        lua_pushstring(L, luaX_token2str(&ls, FIRST_RESERVED + i));
        lua_rawseti(L, t, i + 1);
        lua_settop(L, t);
    }
    return 1;
}

// luaX_token2str of FIRST_RESERVED + i, for each token code in order.
inline std::vector<std::string> all_token_names(lua_State *L) {
    std::vector<std::string> names;
    lua_pushcfunction(L, token_names);
    if (lua_pcall(L, 0, 1, 0) != LUA_OK) {
        lua_pop(L, 1);
        return names;
    }
    for (int i = 1; i <= NUM_TOKENS; i++) {
        lua_rawgeti(L, -1, i);
        names.emplace_back(lua_tostring(L, -1));
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    return names;
}

// The prototype of the Lua function on top of the stack.
inline const Proto *top_proto(lua_State *L) { return clLvalue(s2v(L->top - 1))->p; }

// The opcodes of a prototype, in order.
inline std::vector<int> opcodes(const Proto *p) {
    std::vector<int> ops;
    for (int i = 0; i < p->sizecode; i++) ops.push_back(GET_OPCODE(p->code[i]));
    return ops;
}

// How many local variables of a prototype (over its whole body) are named `name`.
inline int count_locals(const Proto *p, const char *name) {
    int n = 0;
    for (int i = 0; i < p->sizelocvars; i++)
        if (p->locvars[i].varname && std::string(getstr(p->locvars[i].varname)) == name) n++;
    return n;
}

}  // namespace lua_internals
