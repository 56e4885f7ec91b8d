// The image cartridge's label text: title and byline of a .info.pod text,
// printed by a private record into a small bitmap.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "address_space.h"
#include "boot_animation.h"
#include "cart_label.h"
#include "draw_state.h"
#include "printer.h"
#include "private_record.h"
#include "typed_ud.h"

namespace {

process_rec *g_label_proc = nullptr;
typed_ud_rec *g_label_back = nullptr;

// Longest title and byline printed; longest version and author a byline takes.
inline constexpr size_t TEXT_MAX = 1023, VERSION_MAX = 199, AUTHOR_MAX = 799;

inline constexpr int LABEL_COLOUR = 7;
inline constexpr int TITLE_Y = 2, BYLINE_Y = 12;

// The label palette: the first 32 boot colours, then zeros (never shown).
uint32_t label_palette[64];

// The record back in its first state: every own page freed, the print
// buffers too, then set up afresh, so nothing one label's text poked or
// left behind reaches the next.
bool fresh_label_proc() {
    if (!g_label_back) {
        g_label_back = new_private_bitmap(LABEL_TEXT_W, LABEL_TEXT_H);
        g_label_proc = static_cast<process_rec *>(std::calloc(1, sizeof(process_rec)));
        if (!g_label_back || !g_label_proc) {
            std::free(g_label_back);
            std::free(g_label_proc);
            g_label_back = nullptr;
            g_label_proc = nullptr;
            return false;
        }
        std::copy(boot_palette, boot_palette + 32, label_palette);
    }
    process_rec *rec = g_label_proc;
    free_own_pages(rec);
    std::free(rec->print_ctx.buffer);
    std::free(rec->print_ctx.spare);
    std::memset(rec, 0, sizeof *rec);
    std::memset(ud_elements(g_label_back), 0, size_t{LABEL_TEXT_W} * LABEL_TEXT_H);
    setup_private_record(rec, g_label_back, label_palette);
    return true;
}

// The raw value of 'key' ("title", ...): the bytes after the first ',key="'
// or '{key="' up to the next '"' that no backslash precedes; empty when the
// key is missing.
std::string_view find_value(std::string_view text, std::string_view key) {
    for (size_t at = 0; at < text.size(); at++) {
        if (text[at] != ',' && text[at] != '{') continue;
        const std::string_view rest = text.substr(at + 1);
        if (rest.size() < key.size() + 2 || rest.substr(0, key.size()) != key || rest[key.size()] != '=' ||
            rest[key.size() + 1] != '"')
            continue;
        const std::string_view value = rest.substr(key.size() + 2);
        size_t end = 0;
        while (end < value.size() && !(value[end] == '"' && (end == 0 || value[end - 1] != '\\'))) end++;
        return value.substr(0, end);
    }
    return {};
}

void print_line(std::string_view text, int32_t y) {
    poke4(REG_CURSOR_X, 0);
    poke4(REG_CURSOR_Y, y);
    poke8(REG_HOME_X, 0);
    print_zenscii(g_label_back, text.data(), text.size(), 0, LABEL_COLOUR);
}

}  // namespace

extern "C" int extract_label_text(const uint8_t *text, size_t len, uint8_t *pixels) {
    process_rec *caller = cproc;
    if (!fresh_label_proc()) return 0;
    cproc = g_label_proc;
    get_masks_shape();

    const std::string_view pod(reinterpret_cast<const char *>(text), text ? len : 0);
    const std::string_view title = find_value(pod, "title").substr(0, TEXT_MAX);
    const std::string_view version = find_value(pod, "version");
    const std::string_view author = find_value(pod, "author");
    std::string byline;
    const bool has_author = !author.empty() && author.size() <= AUTHOR_MAX;
    if (version.empty()) {
        if (has_author) byline = "by " + std::string(author);
    } else if (version.size() <= VERSION_MAX) {
        byline = version;
        if (has_author) byline += " by " + std::string(author);
    }
    byline.resize(std::min(byline.size(), TEXT_MAX));

    if (!title.empty()) print_line(title, TITLE_Y);
    print_line(byline, BYLINE_Y);

    std::memcpy(pixels, ud_elements(g_label_back), size_t{LABEL_TEXT_W} * LABEL_TEXT_H);
    cproc = caller;
    return 1;
}
