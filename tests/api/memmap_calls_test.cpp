// Sprite slots and flags, map cells, mapping arrays into the address space,
// and get and set on arrays of every type.
#include "draw_fixture.h"

using MemmapCalls = DrawTest;

TEST_F(MemmapCalls, FlagsAndCells) {
    run_drawing(R"(
        fset(5, 0x81) out(fget(5), fget(5, 7), fget(5, 1), fget(5, nil))
        fset(5, 7, false) out(fget(5)) fset(8197, 1, true) out(fget(5), fget(8197))
        fset(5, 9, true) out(fget(5))
        out(select('#', mget(0, 0))) mset(0, 0, 1)
        local m = t_userdata('i16', 8, 4)
        _map_ram(m, 0x100000)
        mset(3, 2, -2) mset(8, 0, 1) mset(-1, 0, 1) mset(1, 1, 0x12345)
        out(mget(3, 2), get(m, 3, 2), select('#', mget(8, 0)), mget(1, 1))
        _map_ram(t_userdata('u8', 16, 16), 0x100000) out(select('#', mget(0, 0)))
        _map_ram(m, 0x100000) t_reshape(m, 'u8', 4, 4) out(select('#', mget(0, 0)))
    )");
    EXPECT_EQ(output(), (Lines{"4:129,true,false,false", "1:1", "2:3,3", "1:3", "mget no map", "1:0", "mset no map",
                               "4:-2,-2,0,9029", "mget no map", "1:0", "1:0"}));
}

TEST_F(MemmapCalls, MappingArraysIntoTheAddressSpace) {
    process_rec *p = drawing(R"(
        local a = t_userdata('u8', 6000, 1)
        set(a, 4096, 7)
        out(_map_ram(a, 0x1000), t_peek(0x1000), t_peek(0x2000))
        out(_map_ram(a, 0x20000), t_peek(0x21000))
        t_poke(0x20005, 9) out(get(a, 5))
        out(select('#', _map_ram(t_userdata('f64', 8, 1), 0x30000)), _map_ram(a, 0x40000, 3, 100))
        out(select('#', _map_ram(a, 0x40000, 6000)), _map_ram(a, 0x40000, 0, 0))
        out(_unmap_ram(a, 0x20000), _unmap_ram(a))
        -- Mapped past its end: only what the array holds from the offset.
        local small = t_userdata('u8', 4096, 1)
        out(_map_ram(small, 0x50000, 0, 1 << 20), t_peek(0x51000), t_pages_mapped())
    )");
    define(p, "t_pages_mapped", [](lua_State *L) -> int {
        int n = 0;
        for (uint64_t w : cproc->mapped_pages) n += __builtin_popcountll(w);
        lua_pushinteger(L, n);
        return 1;
    });
    for (int i = 0; i < 2; i++) frame();
    EXPECT_EQ(output(), (Lines{"3:6000,0,0", "2:6000,7", "1:9", "2:0,100", "2:0,0", "2:false,true",
                               "3:1048576,0,1"}));
}

TEST_F(MemmapCalls, GetAndSetOnEveryType) {
    run_drawing(R"(
        local b = t_userdata('u8', 10, 1)
        set(b, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11)
        out(get(b, 8, 4)) out(get(b, 10)) out(select('#', get(b)))
        set(b, -0.5, 99) out(get(b, -0.5), get(b, 0, 1))
        out(select('#', get(b, 0, -1)))
        out(select('#', get(b, 0, 1 << 40)))
        local i = t_userdata('i16', 3, 2)
        set(i, 2, 1, 0x18000, -1) out(get(i, 2, 1, 1), get(i, 0, 1, 0))
        local f = t_userdata('f64', 2, 1)
        set(f, 0, "1.5", {}) out(get(f, 0, 2))
        local w = t_userdata('i64', 2, 1)
        set(w, 0, math.mininteger, 2^70) out(get(w, 0, 2))
        local d = t_userdata('i32', 2, 1)
        set(d, 1, 2^31) out(get(d, 1))
    )");
    EXPECT_EQ(output(), (Lines{"4:9,10,0,0", "1:0.0", "1:10", "2:0.0,99", "1:0",
                               " ********** too many get() results (1099511627776) stack limit reached **********",
                               "1:0", "1:-32768", "2:1.5,0.0", "2:-9223372036854775808,-9223372036854775808",
                               "1:-2147483648"}));
}

TEST_F(MemmapCalls, AnchoredArraysOutliveTheirLastLuaReference) {
    process_rec *p = run_drawing(R"(
        _set_draw_target(t_userdata('u8', 64, 64))
        _set_spr(1, t_userdata('u8', 8, 8))
        _map_ram(t_userdata('i16', 4, 4), 0x100000)
        local mapped = t_userdata('u8', 4096, 1) set(mapped, 0, 42) _map_ram(mapped, 0x60000) mapped = nil
        T = nil
        collectgarbage() collectgarbage()
        local junk = {} for k = 1, 2000 do junk[k] = t_userdata('u8', 64, 64) end
        rectfill(0, 0, 63, 63, 5) out(pget(63, 63), t_peek(0x60000))
        mset(3, 3, 7) out(mget(3, 3))
        -- Replaced: the old one is no longer held.
        local probe = setmetatable({}, {__mode = "v"})
        probe[1] = t_userdata('u8', 8, 8) _set_spr(2, probe[1])
        _set_spr(2, nil) collectgarbage() collectgarbage()
        out(probe[1] == nil)
    )");
    (void)p;
    EXPECT_EQ(output(), (Lines{"2:5,42", "1:7", "1:true"}));
    // A sprite anchored by a finalizer that runs while the first anchor of
    // the process makes the anchor table: it once anchored into a table of
    // its own, which the first call's table then replaced.
    process_rec *q = start(R"(
        local held, ran, target = setmetatable({}, {__mode = "v"}), 0, userdata('u8', 8, 8)
        local probe = {__gc = function() ran = ran + 1 end}
        setmetatable({}, {__gc = function() held[1] = userdata('u8', 8, 8) _set_spr(5, held[1]) end})
        for i = 1, 10 do setmetatable({}, probe) end
        collectgarbage("incremental", 1, 1000, 1) repeat collectgarbage("step", 0) until ran == 10
        collectgarbage("incremental", 1, 100, 1) _set_draw_target(target)
        collectgarbage("incremental", 200, 100, 13) collectgarbage() collectgarbage()
        out(held[1] ~= nil)
        while true do flip() end
    )");
    ASSERT_NE(q, nullptr);
    const size_t printed = output().size();
    run_process_slice(q, 1.0);
    const Lines lines = output();
    ASSERT_EQ(lines.size(), printed + 1);
    EXPECT_EQ(lines.back(), "1:true");
}
