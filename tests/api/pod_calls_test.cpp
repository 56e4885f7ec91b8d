// Pod and delta calls, run in real processes.
#include "api_fixture.h"

using PodCalls = ApiTest;

namespace {

// Runs the process to its end (or its slice's end).
uint32_t run(process_rec *p) {
    EXPECT_NE(p, nullptr);
    return p ? run_process_slice(p, 1.0) : 0;
}

}  // namespace

TEST_F(PodCalls, PodWithAPrefixIsThePrefixThenThePlainTextAndUnpodReadsItBack) {
    run(start(R"(
        local v = {a = 1, b = "x\"y", c = true}
        local text = pod(v)
        out(pod(v, 0, "pre:") == "pre:" .. text, _pod(v, 0, 7) == "7" .. text)
        local back = unpod(text)
        out(back.a, back.b, back.c)
        out(pod(12), pod("s"), unpod("12"), unpod('"s"'), pod(), pod(nil, 0, "p:"))
    )"));
    EXPECT_EQ(output(), (Lines{"2:true,true", "3:1,x\"y,true", "6:12,\"s\",12,s,nil,p:nil"}));
}

TEST_F(PodCalls, UnpodOfTextThatDoesNotParseOrOfNoTextGivesNothing) {
    run(start(R"(
        out(select('#', unpod("{a = ")), select('#', unpod()), select('#', unpod({})),
            select('#', unpod("")))
    )"));
    EXPECT_EQ(output(), (Lines{"4:0,0,0,0"}));
}

TEST_F(PodCalls, ADeltaTurnsAIntoBAndAnotherSourceGivesNothing) {
    run(start(R"(
        local a = string.rep("the quick brown fox ", 200)
        local b = a:sub(1, 1000) .. "jumps" .. a:sub(1001)
        local d = create_delta(a, b)
        out(type(d), apply_delta(a, d) == b, #d < #b)
        out(select('#', apply_delta(a .. "!", d)), select('#', apply_delta(a, "not a delta")))
        out(apply_delta("", create_delta("", "")) == "", select('#', create_delta(a)),
            select('#', apply_delta(nil, d)))
    )"));
    EXPECT_EQ(output(), (Lines{"3:string,true,true", "2:0,0", "3:true,0,0"}));
}

TEST_F(PodCalls, ApplyingADeltaIsChargedAQuarterOfTheResultsLength) {
    const std::string make = R"(
        local a = string.rep("x", 200000)
        local d = create_delta("", a)
    )";
    const uint32_t base = run(start(make));
    const uint32_t applied = run(start(make + " local b = apply_delta('', d)"));
    // and the result's block: 200,000 bytes, fresh pages
    EXPECT_GE(applied - base, 50000u + 200000 / 64 + 200000 / 32);
    EXPECT_LT(applied - base, 61000u);
}

TEST_F(PodCalls, NestedTablesAndHeadedTextsRoundTrip) {
    run(start(R"(
        local v = {a = {b = {1, 2.5, {c = "x\n\0y"}}}, [5] = true, s = "]]"}
        local back = unpod(pod(v))
        out(back.a.b[1], back.a.b[2], back.a.b[3].c == "x\n\0y", back[5], back.s)
        local w, meta = unpod('--[[pod,x=1,name="n"]]\n{a=2}')
        out(w.a, meta.x, meta.name)
        out(unpod(pod(v, 7)).a.b[2], unpod(pod(v, 2)).s)
    )"));
    EXPECT_EQ(output(), (Lines{"5:1,2.5,true,true,]]", "3:2,1,n", "2:2.5,]]"}));
}

TEST_F(PodCalls, UnorderedKeysRaiseTheWritersErrorAndLeaveNoBufferBehind) {
    const int32_t buffers = get_total_num_buffers();
    run(start(R"(
        out(pcall(pod, {[true] = 1, [false] = 2}))
        out(pcall(_pod, {[{}] = 1, [{}] = 2}, 0, "prefix"))
    )"));
    EXPECT_EQ(output(), (Lines{"2:false,attempt to compare two boolean values",
                               "2:false,attempt to compare two table values"}));
    EXPECT_EQ(get_total_num_buffers(), buffers);
}
