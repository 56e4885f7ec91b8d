// The end-to-end drawing scene drawn in process: the same checksum as the
// program prints in its own run.
#include <fstream>
#include <sstream>

#include "draw_fixture.h"
#include "draw_scene_checksum.h"

using DrawScene = DrawTest;

TEST_F(DrawScene, InProcessTheSceneGivesTheGoldenChecksum) {
    std::ifstream in(DRAW_SCENE_LUA);
    std::stringstream scene;
    scene << in.rdbuf();
    ASSERT_FALSE(scene.str().empty());
    skip_to_pid(4);
    process_rec *p = start(R"(
        local d = userdata("u8", 480, 270)
        _map_ram(d, 0x10000)
        poke2(0x5478, 480) poke2(0x547A, 270)
        for a = 0x5508, 0x550B do poke(a, 0x3F) end
        _set_draw_target(d)
        load()" + std::string("[==[") + scene.str() + R"(]==], "@scene")()
        local h = 0x811C9DC5
        for i = 0, 480 * 270 - 1 do h = ((h ~ get(d, i % 480, i // 480)) * 0x01000193) & 0xFFFFFFFF end
        out(string.format("%08x", h))
        while true do flip() end
    )");
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->id, 4);
    for (int i = 0; i < 60 && output().empty(); i++) frame();
    EXPECT_EQ(output(), (Lines{"1:" DRAW_SCENE_CHECKSUM})) << fake_host::log_text();
}
