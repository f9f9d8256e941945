// The update manifest decodes only as a whole: one key of the wrong type and
// nothing of it is used.
#include <gtest/gtest.h>

#include "updater/update_manifest.h"

namespace corvane {
namespace {

TEST(UpdateManifest, decodesEveryKnownKey) {
    const auto m = UpdateManifest::decode(R"({"latest":"1.4.2","notes":["a","b"],"page":"https://x/",
        "files":{"linux":{"url":"https://x/c.zip","md5":"ABC","size":12},"mac":{"url":"https://x/m.zip"}},
        "extra":{"ignored":true}})");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->latest, "1.4.2");
    EXPECT_EQ(m->notes, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(m->page, "https://x/");
    ASSERT_TRUE(m->files);
    EXPECT_EQ(m->files->at("linux"), (UpdateEntry{"https://x/c.zip", "ABC", 12}));
    EXPECT_EQ(m->files->at("mac"), (UpdateEntry{"https://x/m.zip", std::nullopt, std::nullopt}));
}

TEST(UpdateManifest, optionalKeysMayBeAbsentOrNull) {
    const auto m = UpdateManifest::decode(R"({"latest":"2","notes":null,"files":null})");
    ASSERT_TRUE(m);
    EXPECT_FALSE(m->notes);
    EXPECT_FALSE(m->files);
}

TEST(UpdateManifest, refusesWrongTypesAnywhere) {
    const char* bodies[] = {
        R"({})",                                                    // no latest
        R"({"latest":1.2})",                                        // latest not a string
        R"({"latest":"1","notes":"text"})",                         // notes not an array
        R"({"latest":"1","notes":["a",2]})",                        // a note not a string
        R"({"latest":"1","page":3})",                               // page not a string
        R"({"latest":"1","files":[]})",                             // files not an object
        R"({"latest":"1","files":{"linux":{"md5":"x"}}})",          // entry without url
        R"({"latest":"1","files":{"linux":{"url":"u","md5":5}}})",  // numeric md5
        R"({"latest":"1","files":{"linux":{"url":"u","size":"12"}}})",
        R"({"latest":"1","files":{"linux":{"url":"u","size":1.5}}})",
        R"({"latest":"1","files":{"win":{"url":7}}})",              // another platform's entry counts too
        R"(["latest"])",
        R"(<html>)",
    };
    for (const char* body : bodies) EXPECT_FALSE(UpdateManifest::decode(body)) << body;
}

TEST(UpdateManifest, wholeNumberSizesAreAccepted) {
    const auto m = UpdateManifest::decode(R"({"latest":"1","files":{"linux":{"url":"u","size":3.0}}})");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->files->at("linux").size, 3);
}

TEST(UpdateManifest, undecodableReasonShowsTheFirstHundredBytes) {
    const std::string html = "<!DOCTYPE html><html><head><title>Not Found</title></head><body>" + std::string(100, 'x');
    EXPECT_EQ(undecodableReason(html), "响应无法解析：" + html.substr(0, 100));
    EXPECT_EQ(undecodableReason("short"), "响应无法解析：short");
}

TEST(UpdateManifest, aCutInsideACharacterIsNotText) {
    // 99 ASCII bytes, then a three-byte character: byte 100 falls inside it.
    const std::string body = std::string(99, 'a') + "中";
    EXPECT_EQ(undecodableReason(body), "响应无法解析：非文本");
    EXPECT_EQ(undecodableReason(std::string("\xff\xfe", 2)), "响应无法解析：非文本");
}

}  // namespace
}  // namespace corvane
