// The helpers engine and storage share: joining texts, descriptor ownership and
// the one refusal convention.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "base/refusal.h"
#include "base/text_util.h"
#include "base/unique_fd.h"

using namespace corvane;

namespace {

TEST(Joined, EveryItemKeepsItsPlaceEmptyOnesIncluded) {
    // One of four earlier copies dropped the separator after a leading empty item.
    const struct { std::vector<std::string> items; const char* want; } cases[] = {
        {{}, ""}, {{"a"}, "a"}, {{"a", "b", "c"}, "a、b、c"}, {{"", "b"}, "、b"}, {{"a", "", ""}, "a、、"},
    };
    for (const auto& c : cases) EXPECT_EQ(joined(c.items, "、"), c.want);
}

bool isOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(UniqueFd, ClosesOnceWhoeverHoldsItLast) {
    int raw = -1;
    {
        UniqueFd a(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        raw = a.get();
        ASSERT_TRUE(a);
        UniqueFd b(std::move(a));
        EXPECT_FALSE(a);
        EXPECT_EQ(b.get(), raw);
        UniqueFd c;
        c = std::move(b);
        EXPECT_TRUE(isOpen(raw));
    }
    EXPECT_FALSE(isOpen(raw));

    UniqueFd d(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    raw = d.get();
    EXPECT_TRUE(d.close());
    EXPECT_FALSE(d);
    EXPECT_FALSE(isOpen(raw));
    EXPECT_TRUE(d.close());  // nothing held: nothing to fail

    UniqueFd e(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    raw = e.release();
    EXPECT_TRUE(isOpen(raw));
    ::close(raw);
}

Outcome refuseWhenEmpty(const std::string& text) {
    if (text.empty()) return Refusal{"不能为空"};
    return {};
}

Result<int> lengthOf(const std::string& text) {
    if (text.empty()) return Refusal{"不能为空"};
    return int(text.size());
}

TEST(Refusal, DoneOrRefusedWithTheText) {
    EXPECT_TRUE(refuseWhenEmpty("x").ok());
    EXPECT_EQ(refuseWhenEmpty("x").refusal(), "");
    EXPECT_FALSE(refuseWhenEmpty("").ok());
    EXPECT_EQ(refuseWhenEmpty("").refusal(), "不能为空");

    const Result<int> three = lengthOf("abc");
    ASSERT_TRUE(three);
    EXPECT_EQ(*three, 3);
    EXPECT_EQ(three.refusal(), "");
    const Result<int> none = lengthOf("");
    EXPECT_FALSE(none);
    EXPECT_EQ(none.refusal(), "不能为空");
}

}  // namespace
