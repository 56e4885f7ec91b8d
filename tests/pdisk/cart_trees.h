// Entry lists for cartridge round trips: the hand-picked seeds and random
// trees from a fixed generator.
#pragma once

#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "cart_entry.h"

inline std::ostream &operator<<(std::ostream &os, const cart_entry &e) {
    return os << (e.is_folder ? "folder " : "file ") << e.name << " (" << e.data.size() << " bytes)";
}

inline cart_entry file(std::string name, std::string data) { return cart_entry{std::move(name), std::move(data), false}; }
inline cart_entry folder(std::string name) { return cart_entry{std::move(name), "", true}; }

// Files whose contents sit on the edges of the text and binary forms.
inline std::vector<cart_entry> seed_entries() {
    return {
        file("empty.lua", ""),
        file("abc.txt", "abc"),
        file("abc_nl.txt", "abc\n"),
        file("crlf.lua", "one\r\ntwo\r\n"),
        file("later_hex.lua", "x = 1\nhex$00ff\ny = 2\n"),
        file("later_b64.lua", "x = 1\nb64$AAAA\n"),
        file("leading.lua", ":: not an entry\nprint(1)\n"),
        file("inner.lua", "a\n:: [eoc]\nb"),
        file("x.test.lua", "print('two-part extension')\n"),
        file("zero.lua", std::string("a\0b", 3)),
        file("high.txt", "caf\xC3\xA9"),
        file("ends_in_10.bin", std::string("\x01\x02\n", 3)),
        file("blank_lines.lua", "\n\n\n"),
        folder("empty_folder"),
        folder("sub"),
        file("sub/deeper.lua", "return 7\n"),
    };
}

// A random tree: folders before their contents, names unique, contents of
// every kind (empty, text, text with a final newline, binary, large).
inline std::vector<cart_entry> random_tree(uint32_t seed) {
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
    const std::string chars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-";
    const char *exts[] = {".lua", ".txt", ".pod", ".bin", ".test.lua", ".LUA", ""};
    std::vector<cart_entry> out;
    std::vector<std::string> folders = {""};
    const int n = 1 + pick(40);
    for (int i = 0; i < n; i++) {
        std::string name = folders[static_cast<size_t>(pick(static_cast<int>(folders.size())))];
        if (!name.empty()) name += "/";
        name += "n" + std::to_string(i);
        for (int len = pick(8); len > 0; len--) name += chars[static_cast<size_t>(pick(static_cast<int>(chars.size())))];
        if (pick(5) == 0 && folders.size() < 12) {
            out.push_back(folder(name));
            folders.push_back(name);
            continue;
        }
        name += exts[pick(7)];
        std::string data;
        switch (pick(5)) {
        case 0: break;
        case 1:  // text lines
            for (int l = pick(12); l > 0; l--) {
                for (int c = pick(60); c > 0; c--) data += static_cast<char>(32 + pick(95));
                data += '\n';
            }
            if (pick(2)) data += "last line";
            break;
        case 2:  // any bytes, often around the one-byte size limit
            data.resize(static_cast<size_t>(pick(2) ? 250 + pick(10) : pick(300)));
            for (char &c : data) c = static_cast<char>(pick(256));
            break;
        case 3:  // compressible and large
            data.assign(static_cast<size_t>(pick(70000)), static_cast<char>('a' + pick(3)));
            break;
        default:  // text with a final newline or a stray line break
            data = "print(" + std::to_string(i) + ")" + (pick(2) ? "\n" : "\n\n");
            break;
        }
        out.push_back(file(name, data));
    }
    return out;
}

// The seeds of the round-trip tests.
inline constexpr uint32_t kTreeSeeds[] = {1, 2, 3, 5, 8, 13, 21, 34, 55, 89, 144, 233};
