// chr, ord, split, tokenoid, _md5 and _strindex.
#include "seam_fakes.h"

using namespace std::string_literals;

using Strings = SeamTest;

TEST_F(Strings, CharacterCodes) {
    process_rec *p = spawn("");
    struct Case {
        const char *expr;
        std::string want;
    } cases[] = {
        {"chr(72, 105), chr(256 + 65), chr(-1) == '\\255', chr() .. '|', chr('66', 67.9, {})", "Hi,A,true,|,BC\0"s},
        {"(function() local t = {} for i = 1, 70 do t[i] = 64 + i % 26 end "
         "return chr(table.unpack(t)) == string.char(table.unpack(t)) end)()", "true"},
        {"ord('ABC'), ord('ABC', 2, 3)", "65,66,67,nil"},
        {"ord('ABC', 0), ord('ABC', nil), ord('ABC', '3'), ord('ABC', 2.9), ord(65)", "nil,nil,67,66,54"},
        {"select('#', ord('ABC', 1, 0)), select('#', ord('ABC', 1, 65537)), select('#', ord('ABC', 1, nil))",
         "0,0,0"},
        {"select('#', ord('ABC', 1, 65536)), select('#', ord()), ord()", "65536,1,nil"},
        {"ord('ABC', 2^31 - 1, 2), ord('ABC', math.maxinteger, 2)", "nil,nil,nil"},
        {"ord('ABC', -2^63, 3)", "nil,nil,nil"},
        {"ord({}, 1), ord('\\0\\128', 1, 2)", "nil,0,128"},
        {"_strindex('abc', 2), _strindex('abc', 4), _strindex('abc', 0), _strindex('abc'), _strindex({}, 1)",
         "b,nil,nil,nil,nil"},
        {"_strindex(123, 3), _strindex('abc', '1')", "3,a"},
    };
    for (const Case &c : cases) EXPECT_EQ(eval(p, c.expr), c.want) << c.expr;
}

TEST_F(Strings, SplitCutsBySeparatorSetsAndWidthsAndConvertsWholeNumerals) {
    process_rec *p = spawn("");
    struct Case {
        const char *args;
        const char *want;  // "type:value" of each entry, then the count
    } cases[] = {
        {"'a,b,,c'", "s:a s:b s: s:c #4"},
        {"'1,2,x'", "i:1 i:2 s:x #3"},
        {"'1,2', ',', false", "s:1 s:2 #2"},
        {"'a b;c', ' ;'", "s:a s:b s:c #3"},
        {"'a,b,'", "s:a s:b s: #3"},
        {"''", "s: #1"},
        {"'', 3", "#0"},
        {"'', ''", "#0"},
        {"'abcdefg', 3", "s:abc s:def s:g #3"},
        {"'123456', 2", "i:12 i:34 i:56 #3"},
        {"'abc', 10", "s:abc #1"},
        {"'abc', 0", "s:a s:b s:c #3"},
        {"'abcde', 2.7", "s:ab s:cd s:e #3"},
        {"'132', '3'", "i:1 i:2 #2"},
        {"'a1', ''", "s:a i:1 #2"},
        {"'a1', '', false", "s:a s:1 #2"},
        {"' 12 ,0b101,1e2,0x10,1.5,- 1'", "i:12 i:5 f:100.0 i:16 f:1.5 s:- 1 #6"},
        {"'1\\0002,1\\0', ','", "s:1?2 s:1? #2"},
        {"'a.b', nil", "s:a.b #1"},
        {"'a,b', {}", "s:a s:b #2"},
        {"12345, 2", "i:12 i:34 i:5 #3"},
    };
    for (const Case &c : cases) {
        const std::string expr =
            std::string("(function() local t = split(") + c.args +
            ") local s = {} for i, v in ipairs(t) do s[i] = (math.type(v) or type(v)):sub(1, 1) .. ':' .. "
            "tostring(v):gsub('%z', '?') end s[#s + 1] = '#' .. #t return table.concat(s, ' ') end)()";
        EXPECT_EQ(eval(p, expr), c.want) << c.args;
    }
    EXPECT_EQ(eval(p, "select('#', split()), select('#', split({}))"), "0,0");
}

TEST_F(Strings, TokenoidScansOneTokenAndResumesOpenConstructs) {
    process_rec *p = spawn("");
    struct Case {
        const char *args;
        std::string want;
    } cases[] = {
        {"'local x = 1'", "local,6,1"},
        {"'local x = 1', 6", " ,7,0"},
        {"'local x = 1', 9", "=,10,5"},
        {"'local x = 1', 11", "1,12,2"},
        {"'--[==[ note'", "--[==[ note,12,3,770"},
        {"'end ]==] x', 1, 0x302", "end ]==],9,3"},
        {"'[[abc'", "[[abc,6,4,1024"},
        {"'[=x'", "[,2,5"},
        {"'\"a\\\\\"b\" c'", "\"a\\\"b\",7,4"},
        {"'abc', 0.5", "abc,4,1"},
        {"'0x1f 1e5 0x1F 12ab 1.5.2'", "0x1f,5,2"},
        {"'1e5', 1", "1,2,2"},
        {"'0x1F', 1", "0x1,4,2"},
        {"'12ab', 1", "12ab,5,2"},
        {"'-- line\\nnext'", "-- line,8,3"},
        {"'-x'", "-,2,5"},
        {"'\\nx'", "\n,2,5"},
        {"'\\30\\31z9_\\200'", "\x1E\x1Fz9_\xC8,7,1"},
        {"'\\t \\t x'", "\t \t ,5,0"},
        {"'\"open'", "\"open,6,4"},
        {"'[' .. string.rep('=', 60) .. '[x'", "" /* checked below */},
        {"'[' .. string.rep('=', 61) .. '[x'", "[,2,5"},
        {"'--[' .. string.rep('=', 61) .. '[x'", "" /* checked below */},
        {"'x]' .. string.rep('=', 200) .. ']y', 1, 0x3C8", "" /* checked below */},
        {"'abc]]', 1, -1", "abc]],6,-1,-1"},
        {"'ab\\0cd', 1, 0x300", "ab,3,3,768"},
        {"'ab\\0cd', 3", "\0,4,5"s},
        {"'--ab\\0cd'", "--ab,5,3"},
        {"'[[ab\\0]]'", "[[ab,5,4,1024"},
    };
    for (const Case &c : cases) {
        if (c.want.empty()) continue;
        EXPECT_EQ(eval(p, std::string("tokenoid(") + c.args + ")"), c.want) << c.args;
    }
    EXPECT_EQ(eval(p, "select(2, tokenoid('[' .. string.rep('=', 60) .. '[x'))"), "64,4,1084");
    EXPECT_EQ(eval(p, "select(2, tokenoid('--[' .. string.rep('=', 61) .. '[x'))"), "67,3");
    EXPECT_EQ(eval(p, "select(2, tokenoid('x]' .. string.rep('=', 200) .. ']y', 1, 0x3C8))"), "204,3");
    EXPECT_EQ(eval(p, "select('#', tokenoid('abc', 0)), select('#', tokenoid('abc', 4)), "
                      "select('#', tokenoid()), select('#', tokenoid('', 1))"),
              "0,0,0,0");
}

TEST_F(Strings, Md5GivesTheDigestOfEveryByte) {
    process_rec *p = spawn("");
    struct Case {
        const char *text;
        const char *digest;
    } cases[] = {
        {"''", "d41d8cd98f00b204e9800998ecf8427e"},
        {"'a'", "0cc175b9c0f1b6a831c399e269772661"},
        {"'abc'", "900150983cd24fb0d6963f7d28e17f72"},
        {"'message digest'", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"'abcdefghijklmnopqrstuvwxyz'", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789'",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"string.rep('1234567890', 8)", "57edf4a22be3c955ac49da2e2107b67a"},
        {"'a\\0b\\0'", "aa3a791e273bce9cf4a2a7caa9028b36"},
    };
    for (const Case &c : cases) EXPECT_EQ(eval(p, std::string("_md5(") + c.text + ")"), c.digest) << c.text;
    EXPECT_EQ(eval(p, "select('#', _md5()), select('#', _md5({})), _md5(1) == _md5('1')"), "0,0,true");
}
