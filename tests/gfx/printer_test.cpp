// The printer: every control code and code-6 command from one table, the
// repeat forms, and the print buffer's life.
#include <gtest/gtest.h>

#include <string>

#include "gfx_fixture.h"
#include "glyph.h"
#include "printer.h"
#include "vm_hooks.h"

namespace {

inline constexpr uint32_t FONT = 0x4000, ALT_FONT = 0x4800;

}  // namespace

class Printer : public GfxTest {
protected:
    void SetUp() override {
        GfxTest::SetUp();
        // Test fonts: every glyph a dot at its top-left; 4 x 6 and 2 x 3.
        const uint8_t head[8] = {4, 6, 6, 0, 0, 0, 0, 0}, alt_head[8] = {2, 2, 3, 0, 0, 0, 0, 0};
        write_bytes_proc(proc, FONT, head, 8);
        write_bytes_proc(proc, ALT_FONT, alt_head, 8);
        for (uint32_t c = 1; c < 256; c++) {
            poke(FONT + 8 * c, 1);
            poke(ALT_FONT + 8 * c, 1);
        }
        poke(REG_DEFAULT_FONT, FONT >> 8);
        poke(REG_ALT_FONT, ALT_FONT >> 8);
        b = make_bitmap(64, 40);
        target(b.get());
        get_masks_shape();
    }

    // Prints 'text' from (10, 10) with home x 10 and summarises: the set
    // pixels, the cursor, the result, and the pen when it is not 0.
    std::string run(const std::string &text, uint8_t print_flags = 0) {
        std::memset(px(b.get()), 0, 64 * 40);
        poke4(REG_CURSOR_X, 10);
        poke4(REG_CURSOR_Y, 10);
        poke4(REG_HOME_X, 10);
        poke2(REG_PEN, 0);
        poke(REG_PRINT_FLAGS, print_flags);
        const int r = print_zenscii(b.get(), text.data(), text.size(), 0, 7);
        std::string s;
        for (int y = 0; y < 40; y++)
            for (int x = 0; x < 64; x++)
                if (at(b.get(), x, y)) s += std::to_string(x) + "," + std::to_string(y) + " ";
        s += "| " + std::to_string(peek4(REG_CURSOR_X)) + "," + std::to_string(peek4(REG_CURSOR_Y)) + " r" + std::to_string(r);
        if (peek2(REG_PEN)) s += " p" + std::to_string(peek2(REG_PEN));
        return s;
    }

    bitmap_ptr b;
};

TEST_F(Printer, EveryCodeAndCommand) {
    using std::string;
    const string nul(1, '\0');
    struct Case {
        string text;
        uint8_t flags;
        const char *expect;
    } cases[] = {
        {"AB", 0, "10,10 14,10 | 10,16 r0"},
        {"AB", 4, "10,10 14,10 | 18,10 r0"},
        {"A" + nul + "B", 0, "10,10 | 14,10 r0"},
        {"\x01" "3X", 0, "10,10 14,10 18,10 | 10,16 r0"},
        {"\x01" "0XY", 0, "10,10 | 10,16 r0"},
        {"\x01" "0\x05" "abY", 0, "10,10 | 10,16 r0"},
        {"\x01" "0\x06@00010001zY", 0, "10,10 | 10,16 r0"},
        {"\x01" "0\x06!0000zz", 0, "| 10,16 r0"},
        {"\x01" "1X", 0, "10,10 | 10,16 r0"},
        {"\x01" "3\x01" "2X", 0, "10,10 14,10 | 10,16 r0"},
        {"\x01" "3", 0, "| 10,28 r0"},
        {"\x01" + nul, 0, "10,10 | 14,10 r0"},
        {"\x02" + nul + "A", 0, "10,10 | 14,10 r0"},
        {"\x03gA", 0, "10,10 | 10,16 r0"},
        {"\x03" "aA", 0, "4,10 | 10,16 r0"},
        {"\x03" "AA", 0, "| 10,16 r0"},
        {"\x04kA", 0, "10,14 | 10,20 r0"},
        {"\x05kkA", 0, "14,14 | 10,20 r0"},
        {"\x05k" + nul + "A", 0, "10,10 | 14,10 r0"},
        {"\x06" + nul + "A", 0, "10,10 | 14,10 r0"},
        {"\x07", 0, "10,10 | 10,16 r0"},
        {"A\x08" "B", 0, "10,10 | 10,16 r0"},
        {"\tA", 0, "12,10 | 10,16 r0"},
        {"A\nB", 0, "10,10 10,16 | 10,22 r0"},
        {"AB\rC", 0, "10,10 14,10 | 10,16 r0"},
        {"A\x0b" "4B", 0, "8,3 10,10 | 10,16 r0"},
        {"\x0c" "9A", 0, "10,10 | 10,16 r0 p9"},
        {"A\x0c", 0, "10,10 | 14,10 r0"},
        {"A\x0c", 4, "10,10 | 14,10 r0"},
        {"\x0e" "AB\x0f" "C", 0, "10,10 12,10 14,10 | 10,16 r0"},
        {"A\x06" "1B", 0, "10,10 | 14,10 r1"},
        {"\x06" "d2AB", 0, "10,10 | 14,10 r1"},
        {"\x06" "j23A", 0, "8,12 | 10,18 r0"},
        {"\x06" "j2" + nul, 0, "| 10,10 r0"},
        {"\x06" "hA\n\x06" "gB", 0, "10,10 | 10,16 r0"},
        {"\x06-r4AB", 0, "10,10 10,16 | 10,22 r0"},
        {"\x06" "s2\tA", 0, "16,10 | 10,16 r0"},
        {"\x06" "x2AB", 0, "10,10 12,10 | 10,16 r0"},
        {"\x06" "y9A", 0, "10,10 | 10,19 r0"},
        {"\x06@5f000002zyA", 0, "10,10 | 10,16 r0"},
        {"\x06!5f00zy", 0, "| 10,10 r0"},
        {"\x06." "\x01" + string(7, '\0'), 0, "10,10 | 10,18 r0"},
        {"\x06:0100000000000000", 0, "10,10 | 10,18 r0"},
        {"\x06:01A", 0, "10,10 14,10 18,10 | 10,16 r0"},
        {"\x06-" + nul + "A", 0, "| 10,10 r0"},
        {"\x06" "0A", 0, "10,10 | 10,16 r0"},
        {"\x06" "ZA", 0, "10,10 | 10,16 r0"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(run(c.text, c.flags), c.expect) << "text of " << c.text.size() << " bytes: " << c.text;
    }
    EXPECT_EQ(peek(0), 0) << "a skipped poke pokes nothing";
    run("\x06@5f000002zyA");
    EXPECT_EQ(peek(0x5F00), 'z');
    EXPECT_EQ(peek(0x5F01), 'y');
    poke2(0x5F00, 0);
    run("\x06!5f00zy");
    EXPECT_EQ(peek(0x5F00), 'z');
    EXPECT_EQ(peek(0x5F01), 'y');
    EXPECT_EQ(peek(0x5F02), 0) << "the automatic newline is not poked";
}

TEST_F(Printer, StyleCommandsSetAndClearTheirFields) {
    struct Case {
        char k;
        int32_t print_ctx_rec::*field;
    } cases[] = {
        {'#', &print_ctx_rec::solid_bg}, {'$', &print_ctx_rec::wrap}, {'=', &print_ctx_rec::stripey},
        {'b', &print_ctx_rec::border},   {'i', &print_ctx_rec::invert}, {'p', &print_ctx_rec::pinball},
        {'t', &print_ctx_rec::tall},     {'w', &print_ctx_rec::wide},
    };
    for (const Case &c : cases) {
        // A pause keeps the context for inspection.
        for (int on = 0; on < 2; on++) {
            std::string text = on ? std::string("\x06") + c.k + "\x06" "1" : std::string("\x06") + c.k + "\x06-" + c.k + "\x06" "1";
            run(text);
            EXPECT_EQ(proc->print_ctx.*c.field, on) << c.k;
        }
    }
    run("\x06o7a2\x06" "1");
    EXPECT_EQ(proc->print_ctx.outline_col, 7);
    EXPECT_EQ(proc->print_ctx.outline_mask, (10 << 5) | 2);
    run("\x06o7a2\x06-o\x06" "1");
    EXPECT_EQ(proc->print_ctx.outline_mask, 0);
    run("\x02" "5\x06" "1");
    EXPECT_EQ(proc->print_ctx.bg, 5);
    EXPECT_EQ(proc->print_ctx.solid_bg, 1);
}

TEST_F(Printer, RegisterOverridesAndExtent) {
    poke(REG_CHAR_SIZE, 0x93);       // char_w 3, char_h 9
    poke(REG_WIDE_AND_TAB, 0x25);    // char_w_hi 5, tab 3 x 3
    poke(REG_GLYPH_OFFSETS, 0x21);   // offsets 1, 2
    run("\x06" "1");
    const print_ctx_rec &x = proc->print_ctx;
    EXPECT_EQ(x.char_w, 3);
    EXPECT_EQ(x.char_h, 9);
    EXPECT_EQ(x.char_w_hi, 5);
    EXPECT_EQ(x.tab_w, 9);
    EXPECT_EQ(x.offset_x, 1);
    EXPECT_EQ(x.offset_y, 2);
    EXPECT_EQ(x.border, 1) << "attributes 0 read as 2";
    // Codes 14 and 15 take the header as it is.
    run("\x0e\x06" "1");
    EXPECT_EQ(x.char_w, 2);
    EXPECT_EQ(x.offset_x, 0);
    EXPECT_EQ(x.tab_w, 9);
    poke(REG_CHAR_SIZE, 0);
    poke(REG_WIDE_AND_TAB, 0);
    poke(REG_GLYPH_OFFSETS, 0);
    // One glyph from (0, 0) with the automatic newline.
    poke4(REG_CURSOR_X, 0);
    poke4(REG_CURSOR_Y, 0);
    poke4(REG_HOME_X, 0);
    print_zenscii(b.get(), "A", 1, 0, 7);
    EXPECT_EQ(print_max_x, 4);
    EXPECT_EQ(print_max_y, 6);
    EXPECT_EQ(print_max_set, 1);
    print_zenscii(b.get(), nullptr, 0, 0, 7);
    EXPECT_EQ(print_max_x, -1000000);
    EXPECT_EQ(print_max_set, 0);
}

TEST_F(Printer, TabsAndClearCommand) {
    struct Case {
        int32_t x, home;
        uint8_t font_flags, tab_reg;
        int32_t expect;
    } tabs[] = {
        {10, 10, 0, 0, 12}, {-5, 0, 0, 0, 0}, {-12, 0, 0, 0, 0}, {11, 10, 2, 0, 22}, {0, 0, 0, 0, 12},
    };
    for (const Case &t : tabs) {
        poke(FONT + FONT_FLAGS, t.font_flags);
        poke4(REG_CURSOR_X, t.x);
        poke4(REG_CURSOR_Y, 0);
        poke4(REG_HOME_X, t.home);
        poke(REG_PRINT_FLAGS, 4);
        print_zenscii(b.get(), "\t", 1, 0, 7);
        EXPECT_EQ(peek4(REG_CURSOR_X), t.expect) << t.x << " home " << t.home;
    }
    poke(FONT + FONT_FLAGS, 0);
    // Width 0: the cursor stays.
    poke(FONT + 0, 0);
    poke4(REG_CURSOR_X, 7);
    print_zenscii(b.get(), "\x06x0\t", 4, 0, 7);
    EXPECT_EQ(peek4(REG_CURSOR_X), 7);
    poke(FONT + 0, 4);

    // 'c' fills the process's draw target, whatever its element type.
    auto wide = make_bitmap(8, 4, UTYPE_I16);
    for (typed_ud_rec *t : {b.get(), wide.get()}) {
        proc->draw_target = t;
        cpu_cycles = 0;
        poke(REG_PRINT_FLAGS, 4);
        print_zenscii(b.get(), "\x06" "c5", 3, 0, 7);
        const std::vector<uint8_t> bytes = bytes_of(t);
        EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](uint8_t v) { return v == 5; }));
        EXPECT_EQ(peek4(REG_CURSOR_X), 0);
        EXPECT_GE(cpu_cycles, int32_t(t->width * t->height / 64));
    }
    proc->draw_target = nullptr;
    poke4(REG_CURSOR_X, 3);
    print_zenscii(b.get(), "\x06" "c5", 3, 0, 7);
    EXPECT_EQ(peek4(REG_CURSOR_X), 3) << "no draw target: nothing";
}

TEST_F(Printer, FontsAreAddressesReadWithoutMakingPages) {
    // A font register whose page is untouched: blank 8 x 8 cells.
    poke(REG_DEFAULT_FONT, 0xE0);  // 0xE000, all zeros
    poke4(REG_CURSOR_X, 0);
    poke(REG_PRINT_FLAGS, 4);
    const uint64_t before = proc->own_page_bytes;
    EXPECT_EQ(run("AB", 4), "| 26,10 r0");
    EXPECT_EQ(proc->own_page_bytes, before);
    // A font across the end of a short mapped array and at the top of the space.
    std::vector<uint8_t> arr(100, 0);
    arr[0] = 4;
    arr[1] = 4;
    arr[2] = 6;
    map_page(proc, 3, arr.data(), 100);
    poke(REG_DEFAULT_FONT, 0x2F);
    run("AB\xFF");
    poke(REG_DEFAULT_FONT, 0xFF);
    run("AB\xFF");
    unmap_page(proc, 3);
    // A poked glyph row shows in the next print.
    poke(REG_DEFAULT_FONT, FONT >> 8);
    poke(FONT + 8 * 'A', 2);
    EXPECT_EQ(run("A"), "11,10 | 10,16 r0");
}

TEST_F(Printer, WidthNibblesAndPokeCounts) {
    // Nibble 0xF for 'A': one narrower and raised; 0x3 for 'B': three wider.
    poke(FONT + FONT_FLAGS, FONT_FLAG_NIBBLES);
    poke(FONT + ('A' >> 1), 0xF0);
    poke(FONT + ('B' >> 1), 0x03);
    EXPECT_EQ(run("ABA"), "10,9 20,9 13,10 | 10,16 r0");
    poke(FONT + ('A' >> 1), 0xC0);  // four narrower: no width, nothing drawn
    EXPECT_EQ(run("AB"), "10,10 | 10,16 r0");
    poke(FONT + FONT_FLAGS, 0);

    // '@' takes its data up to the end of the text only, and its address up to 4 digits.
    struct Case {
        std::string text;
        uint32_t addr;
        std::string bytes;
    } pokes[] = {
        {"\x06@5f000009ab", 0x5F00, "ab"},
        {"\x06@5f0" + std::string(1, '\0') + "0001q", 0x5F00, ""},
        {"\x06@5f0g0001q", 0x5F10, "q"},
    };
    for (const Case &c : pokes) {
        for (uint32_t a = 0x5F00; a < 0x5F10; a++) poke(a, 0);
        poke(0x0A, 0);
        run(c.text);
        for (size_t i = 0; i < 4; i++)
            EXPECT_EQ(peek(c.addr + uint32_t(i)), i < c.bytes.size() ? uint8_t(c.bytes[i]) : 0) << c.text << " " << i;
    }
}

TEST_F(Printer, BuffersOfPausedPrints) {
    // A paused print keeps its buffer until the next print or the process ends.
    print_zenscii(b.get(), "A\x06" "3BC", 5, 0, 7);
    ASSERT_NE(proc->print_ctx.buffer, nullptr);
    EXPECT_EQ(proc->print_ctx.wait_frames, 3);
    proc->draw_target = b.get();
    EXPECT_EQ(continue_print_text(), 1);
    EXPECT_EQ(continue_print_text(), 1);
    EXPECT_EQ(continue_print_text(), 1);
    EXPECT_EQ(continue_print_text(), 0) << "counted down, then printed to the end";
    EXPECT_EQ(proc->print_ctx.buffer, nullptr);
    print_zenscii(b.get(), "A\x06" "3BC", 5, 0, 7);
    proc->draw_target = nullptr;
    EXPECT_EQ(continue_print_text(), 0) << "the target changed: dropped";
    EXPECT_EQ(proc->print_ctx.buffer, nullptr);
    const std::string big(10000, 'A');
    print_zenscii(b.get(), (big + "\x06" "1").data(), big.size() + 2, 0, 7);
    print_zenscii(b.get(), "A\x06" "1", 3, 0, 7);
    print_zenscii(b.get(), (big + "\x06" "1").data(), big.size() + 2, 0, 7);
    // The process ends with a paused print: LeakSanitizer sees nothing left.
    kill_process(proc);
    proc = nullptr;
}

// Glyphs whose cells lie wholly outside the clip are passed without their
// rows; cursor, extent, charge, context and pixels must be those of the
// glyph-by-glyph path, wherever the text starts and whatever its styles.
TEST_F(Printer, HiddenGlyphsMoveAndChargeAsDrawnOnes) {
    const char *pieces[] = {"A", "B", "\x07", "\xc8", "\n", "\r", "\t", "\x06w", "\x06t", "\x06p", "\x06=",
                            "\x06" "b", "\x06#", "\x02" "5", "\x06o7a2", "\x06$", "\x06-$", "\x06-w",
                            "\x06r4", "\x04z", "\x03" "a", "\x0e", "\x0f", "\x0b" "4"};
    std::mt19937 rng(20261207);
    for (int iter = 0; iter < 400; iter++) {
        std::string text;
        const int n = 1 + int(rng() % 80);
        for (int i = 0; i < n; i++) {
            const int k = int(rng() % (std::size(pieces) + 8));
            text += k < int(std::size(pieces)) ? pieces[k] : std::string(1 + rng() % 6, char('C' + k));
        }
        const int64_t start_x = int64_t(rng() % 160) - 60, start_y = int64_t(rng() % 140) - 60;
        const int clip_x0 = int(rng() % 30), clip_y0 = int(rng() % 20);
        const int camera = int(rng() % 3) - 1;
        const bool nibbles = rng() % 4 == 0;
        struct Outcome {
            uint32_t crc;
            int64_t x, y, max_x, max_y;
            int32_t cycles, saved_x, saved_y, line_height, last_advance;
        } outcomes[2];
        for (int plain = 0; plain < 2; plain++) {
            gfx_force_plain_paths = plain;
            std::memset(px(b.get()), 0, 64 * 40);
            target(b.get(), clip_x0, clip_y0, clip_x0 + 20, clip_y0 + 12);
            poke4(REG_CAMERA_X, camera * 7);
            poke4(REG_CAMERA_Y, camera * 5);
            poke(FONT + FONT_FLAGS, nibbles ? FONT_FLAG_NIBBLES : 0);
            poke(FONT + ('A' >> 1), 0xF3);
            poke4(REG_CURSOR_X, start_x);
            poke4(REG_CURSOR_Y, start_y);
            poke4(REG_HOME_X, start_x);
            cpu_cycles = 0;
            print_zenscii(b.get(), text.data(), text.size(), 0, 7);
            const print_ctx_rec &c = proc->print_ctx;
            outcomes[plain] = {crc_of(b.get()), peek4(REG_CURSOR_X), peek4(REG_CURSOR_Y), print_max_x, print_max_y,
                               cpu_cycles, c.saved_x, c.saved_y, c.line_height, c.last_advance};
        }
        const Outcome &a = outcomes[0], &p = outcomes[1];
        const std::string at = "iter " + std::to_string(iter);
        EXPECT_EQ(a.crc, p.crc) << at;
        EXPECT_EQ(a.x, p.x) << at;
        EXPECT_EQ(a.y, p.y) << at;
        EXPECT_EQ(a.max_x, p.max_x) << at;
        EXPECT_EQ(a.max_y, p.max_y) << at;
        EXPECT_EQ(a.cycles, p.cycles) << at;
        EXPECT_EQ(a.saved_x, p.saved_x) << at;
        EXPECT_EQ(a.saved_y, p.saved_y) << at;
        EXPECT_EQ(a.line_height, p.line_height) << at;
        EXPECT_EQ(a.last_advance, p.last_advance) << at;
    }
}
