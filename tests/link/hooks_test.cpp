// Asynchronous event hooks: dispatch order, catch-all, table limits.
#include "link_fixture.h"

namespace {

using fake::Bytes;

int hook_a(int, MXX_link*, const unsigned char* f, void*) {
    g_rec->hook_calls.push_back("a:" + std::to_string(f[4] | (f[5] << 8)));
    return 0;
}
int hook_b(int, MXX_link*, const unsigned char* f, void*) {
    g_rec->hook_calls.push_back("b:" + std::to_string(f[4] | (f[5] << 8)));
    return 0;
}
int hook_all(int, MXX_link*, const unsigned char* f, void* user) {
    g_rec->hook_calls.push_back("all:" + std::to_string(f[4] | (f[5] << 8)) +
                                (user != nullptr ? "+user" : ""));
    return 0;
}

TEST_F(LinkTest, FrameGoesToTheFirstMatchingHookOnlyThenToTheWaiter) {
    EXPECT_EQ(MXX_hook_async_event(id, 9302, hook_a), 0);
    EXPECT_EQ(MXX_hook_async_event(id, 9302, hook_b), 0);
    EXPECT_EQ(MXX_hook_async_event(id, 0xFFFF, hook_all), 0);
    const Bytes live = fake::frame(9302, 0, {1});
    const Bytes other = fake::frame(9400, 0, {2});
    fake::data(id, live);
    fake::data(id, other);
    EXPECT_EQ(rec.hook_calls, (std::vector<std::string>{"a:9302", "all:9400+user"}));
    EXPECT_EQ(fake::state().filled, (std::vector<Bytes>{live, other}));
}

TEST_F(LinkTest, DuplicateRegistrationKeepsOneEntry) {
    EXPECT_EQ(MXX_hook_async_event(id, 9302, hook_a), 0);
    EXPECT_EQ(MXX_hook_async_event(id, 9302, hook_a), 0);
    // With the first entry gone through, the table has room for 253 more.
    for (int i = 0; i < 253; ++i) {
        EXPECT_EQ(MXX_hook_async_event(id, static_cast<uint16_t>(100 + i), hook_b), 0) << i;
    }
    EXPECT_EQ(MXX_hook_async_event(id, 0xFFFF, hook_all), 0);
    EXPECT_EQ(MXX_hook_async_event(id, 9999, hook_b), -1);
}

TEST_F(LinkTest, CatchAllTakesTheLastSlotOrIsRefusedWhenItIsUsed) {
    struct Case {
        const char* name;
        bool catch_all_first;
        int ordinary;
        int last_ordinary_result;
        int catch_all_after_result;
    };
    const Case cases[] = {
        {"with catch-all: 254 fit, the 255th is refused", true, 255, -1, -1},
        {"without: 255 fit, then no catch-all", false, 255, 0, -1},
    };
    for (const Case& c : cases) {
        fake::disconnect(id);
        ASSERT_EQ(MXX_connect("fake", &id, nullptr, nullptr, nullptr, nullptr, nullptr, &user), 0);
        if (c.catch_all_first) {
            ASSERT_EQ(MXX_hook_async_event(id, 0xFFFF, hook_all), 0);
        }
        int last = 0;
        for (int i = 0; i < c.ordinary; ++i) {
            last = MXX_hook_async_event(id, static_cast<uint16_t>(1000 + i), hook_a);
            if (i < 254) {
                ASSERT_EQ(last, 0) << c.name << " " << i;
            }
        }
        EXPECT_EQ(last, c.last_ordinary_result) << c.name;
        EXPECT_EQ(MXX_hook_async_event(id, 0xFFFF, hook_b), c.catch_all_after_result) << c.name;
    }
}

TEST_F(LinkTest, SecondFunctionForAnIdIsNeverCalled) {
    EXPECT_EQ(MXX_hook_async_event(id, 9302, hook_a), 0);
    EXPECT_EQ(MXX_hook_async_event(id, 9302, hook_b), 0);
    fake::data(id, fake::frame(9302, 0, {1}));
    EXPECT_EQ(rec.hook_calls, std::vector<std::string>{"a:9302"});
}

TEST(LinkLookup, UnknownConnectionChangesNothing) {
    fake::reset();
    EXPECT_EQ(MXX_hook_async_event(77, 9302, hook_a), 0);
    EXPECT_EQ(MXX_set_cmd_num_try(77, 3), 0);
    EXPECT_EQ(MXX_get_user_data(77), nullptr);
}

} // namespace
