// DrawTest: ApiTest with a drawing process. Its snippets run after a prelude
// that makes a target T (480 x 270 u8 unless the test asks otherwise) and
// sets it as the draw target, in a process whose colour tables are the
// defaults and whose masks are 0x3F. Test globals:
//   t_userdata(type, w, h)  a zeroed typed array (create_userdata)
//   t_cycles()              the cycles charged so far in this slice
//   t_noop()                a C function that does nothing, for the charge baseline
//   t_peek(a, n), t_poke(a, v, n), t_state(), t_reshape(a, type, w, h)  (below)
//   t_mark()                notes the slice and the cycle count (long_call)
// charge(f, ...) in the prelude gives the cycles a drawing call charges: its
// cycle delta minus that of t_noop called alike, each the least of three
// calls (the collector's steps are charged to whichever call they fall in),
// so f must give the same charge each time it is called; charge_once(f, ...)
// measures a single call.
#pragma once

#include <cstring>
#include <vector>

#include "address_space.h"
#include "api_fixture.h"
#include "colour_tables.h"
#include "draw_state.h"
#include "typed_ud.h"
#include "vm_hooks.h"

class DrawTest : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        init_default_coltabs();
    }

    static int t_userdata(lua_State *L) {
        const char *type = lua_tostring(L, 1);
        const lua_Integer w = luaL_optinteger(L, 2, 480), h = luaL_optinteger(L, 3, 270);
        if (!create_userdata(L, type ? type : "u8", h > 1 ? 2 : 1, uint32_t(w), uint32_t(h), 1, nullptr)) return 0;
        return 1;
    }
    static int t_cycles(lua_State *L) {
        lua_pushinteger(L, cpu_cycles);
        return 1;
    }
    static int t_noop(lua_State *) { return 0; }
    // t_unbounded(): the rest of this slice has a budget no set-up reaches,
    // so a reference made in one piece (where the call cannot yield) is
    // not stopped at the watchdog's margin.
    static int t_unbounded(lua_State *) {
        cpu_cycles_max = VM_CYCLES_CAP / 2;
        return 0;
    }
    // t_peek(a, n): the n-byte (1, 2, 4, 8) little-endian value at a, zero-extended
    // (n 2 and 4 sign-extended); t_poke(a, v, n) writes it (as poke does).
    static int t_peek(lua_State *L) {
        const uint32_t a = uint32_t(luaL_checkinteger(L, 1));
        switch (luaL_optinteger(L, 2, 1)) {
        case 2: lua_pushinteger(L, peek2(a)); break;
        case 4: lua_pushinteger(L, peek4(a)); break;
        case 8: lua_pushinteger(L, peek8(a)); break;
        default: lua_pushinteger(L, peek(a));
        }
        return 1;
    }
    static int t_poke(lua_State *L) {
        const uint32_t a = uint32_t(luaL_checkinteger(L, 1));
        const int64_t v = luaL_checkinteger(L, 2);
        switch (luaL_optinteger(L, 3, 1)) {
        case 2: poke2(a, v); break;
        case 4: poke4(a, v); break;
        case 8: poke8(a, v); break;
        default: poke(a, v);
        }
        return 0;
    }
    // t_reshape(a, type, w, h): rewrites an array's header in place, as mutate does.
    static int t_reshape(lua_State *L) {
        typed_ud_rec *a = to_typed_ud(L, 1);
        if (!a) return 0;
        a->type = uint8_t(str_to_utype(luaL_checkstring(L, 2)));
        a->width = uint32_t(luaL_checkinteger(L, 3));
        a->height = uint32_t(luaL_checkinteger(L, 4));
        return 0;
    }
    // t_state(): the inverted-fill flag and the flags of page 5.
    static int t_state(lua_State *L) {
        lua_pushinteger(L, cproc->inverted_fill);
        lua_pushinteger(L, cproc->page_flags[5]);
        return 2;
    }

    // Where the snippet called t_mark(): the slice (counted by long_call)
    // and the cycle count within it.
    struct mark {
        int slice;
        int64_t cycles;
    };
    static inline std::vector<mark> marks_;
    static inline int slice_now_ = 0;
    static int t_mark(lua_State *) {
        marks_.push_back({slice_now_, cpu_cycles});
        return 0;
    }

    // What a call that may last many slices charged, and the slices it spanned.
    struct long_call_result {
        int64_t charged;
        int64_t slices;
    };

    // Runs the process of drawing(setup + "t_mark() " + baseline + " t_mark()
    // t_mark() " + call + " t_mark()") in whole-frame slices until the call
    // has returned; the baseline (by default t_noop called as the call is)
    // measures what is not the call's. Each slice starts its count at the debt left
    // (a step's overshoot at most) and ends at its budget plus the debt it
    // leaves, or at the count it used.
    long_call_result long_call(const std::string &setup, const std::string &call, std::string baseline = "") {
        marks_.clear();
        if (baseline.empty()) baseline = call.substr(0, 0) + "t_noop" + call.substr(call.find('('));
        process_rec *p = drawing(setup + " t_mark() " + baseline + " t_mark() t_mark() " + call + " t_mark()");
        EXPECT_NE(p, nullptr);
        if (!p) return {-1, -1};
        std::vector<int64_t> slice_start, slice_end;
        for (slice_now_ = 0; marks_.size() < 4 && slice_now_ < 2000; slice_now_++) {
            const int64_t debt = p->cycle_debt;
            if (marks_.size() >= 3) {
                EXPECT_LT(debt, int64_t{VM_FRAME_CYCLES}) << "the call leaves no more";
            }
            frame();
            slice_start.push_back(debt);
            slice_end.push_back(p->cycle_debt > 0 ? int64_t{VM_FRAME_CYCLES} + p->cycle_debt
                                                  : debt + p->cycles_this_frame);
        }
        EXPECT_EQ(marks_.size(), 4u) << fake_host::log_text();
        if (marks_.size() != 4 || marks_[0].slice != marks_[1].slice) return {-1, -1};
        const int64_t overhead = marks_[1].cycles - marks_[0].cycles;
        const mark from = marks_[2], to = marks_[3];
        int64_t charged = to.cycles - from.cycles;
        if (from.slice != to.slice) {
            charged = slice_end[size_t(from.slice)] - from.cycles + to.cycles - slice_start[size_t(to.slice)];
            for (int s = from.slice + 1; s < to.slice; s++) charged += slice_end[size_t(s)] - slice_start[size_t(s)];
        }
        return {charged - overhead, to.slice - from.slice + 1};
    }

    // The prelude of every drawing snippet (on one line).
    static std::string draw_prelude(int w, int h) {
        return "T = t_userdata('u8', " + std::to_string(w) + ", " + std::to_string(h) +
               ") _set_draw_target(T) "
               "local function raw(f, ...) local c0 = t_cycles() f(...) local c1 = t_cycles() return c1 - c0 end "
               "local function least(f, ...) return math.min(raw(f, ...), raw(f, ...), raw(f, ...)) end "
               "function charge(f, ...) return least(f, ...) - least(t_noop, ...) end "
               "function charge_once(f, ...) local base = least(t_noop, ...) return raw(f, ...) - base end ";
    }

    // A process running 'code' after the drawing prelude, set up but not run.
    // It stays alive after the code (flipping), so its memory can be read.
    // It is pid 4 or later: an error in pid 1 or 3 would end the program.
    process_rec *drawing(const std::string &code, int w = 480, int h = 270) {
        skip_to_pid(4);
        process_rec *p = start(draw_prelude(w, h) + code + "\nwhile true do flip() end");
        if (!p) return nullptr;
        define(p, "t_userdata", t_userdata);
        define(p, "t_cycles", t_cycles);
        define(p, "t_noop", t_noop);
        define(p, "t_unbounded", t_unbounded);
        define(p, "t_peek", t_peek);
        define(p, "t_poke", t_poke);
        define(p, "t_state", t_state);
        define(p, "t_reshape", t_reshape);
        define(p, "t_mark", t_mark);
        write_bytes_proc(p, 0x8000, default_coltabs, sizeof default_coltabs);
        const uint8_t masks[4] = {0x3F, 0x3F, 0x3F, 0x3F};
        write_bytes_proc(p, REG_READ_MASK, masks, 4);
        return p;
    }

    // Runs 'code' in a new drawing process for 'slices' slices (a budget
    // spent ends one); returns the process.
    process_rec *run_drawing(const std::string &code, int w = 480, int h = 270, int slices = 4) {
        process_rec *p = drawing(code, w, h);
        EXPECT_NE(p, nullptr);
        for (int i = 0; p && i < slices; i++) frame();
        return p;
    }

    // The bytes of p's draw target.
    static std::vector<uint8_t> target_bytes(process_rec *p) {
        typed_ud_rec *t = p->draw_target;
        if (!t) return {};
        const uint8_t *e = ud_elements(t);
        return std::vector<uint8_t>(e, e + uint64_t(t->width) * t->height);
    }
};

// A zeroed bitmap owned by C++, for references drawn by the primitives.
struct c_bitmap {
    std::vector<uint64_t> block;
    typed_ud_rec *rec;
    c_bitmap(uint32_t w, uint32_t h) : block(2 + (uint64_t(w) * h + 7) / 8, 0) {
        rec = reinterpret_cast<typed_ud_rec *>(block.data());
        rec->type = UTYPE_U8;
        rec->dims = 2;
        rec->width = w;
        rec->height = h;
        rec->depth = 1;
    }
    std::vector<uint8_t> bytes() const {
        const uint8_t *e = ud_elements(rec);
        return std::vector<uint8_t>(e, e + uint64_t(rec->width) * rec->height);
    }
};
