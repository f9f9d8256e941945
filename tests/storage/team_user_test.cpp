// One account record: masked address, public view, stored form and lenient reading.

#include <gtest/gtest.h>

#include "storage/team_user.h"

namespace corvane {
namespace {

TEST(TeamUserMaskedEmail, KeepsTwoLeadingCharactersOfALongerLocalPartAndTheWholeDomain) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"no-at-sign", ""},
        {"alice@example.com", "al***@example.com"},
        {"abc@x.cn", "ab***@x.cn"},
        {"ab@x.cn", "a***@x.cn"},
        {"a@x.cn", "a***@x.cn"},
        {"@x.cn", "***@x.cn"},
        {"张三丰@x.cn", "张三***@x.cn"},
        {"a@b@c.cn", "a***@b@c.cn"},
    };
    for (const auto& [email, masked] : cases) {
        TeamUser u;
        u.email = email;
        EXPECT_EQ(u.maskedEmail(), masked) << email;
    }
}

TeamUser sample() {
    TeamUser u;
    u.id = "u0123456789ab";
    u.user = "Alice";
    u.name = "爱丽丝";
    u.salt = "c2FsdA==";
    u.hash = "aGFzaA==";
    u.iter = 120000;
    u.role = "member";
    u.status = "active";
    u.created = 1700000000123;
    u.approvedAt = 1700000000456;
    u.lastLogin = 0;
    u.note = "hi";
    u.email = "alice@example.com";
    return u;
}

TEST(TeamUserPublicDict, ShowsElevenKeysAndNoPasswordMaterial) {
    const nlohmann::json dict = sample().publicDict();
    std::vector<std::string> keys;
    for (const auto& [key, value] : dict.items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"approvedAt", "created", "email", "hasEmail", "id", "lastLogin", "name",
                                              "note", "role", "status", "user"}));
    EXPECT_EQ(dict["email"], "al***@example.com");
    EXPECT_EQ(dict["hasEmail"], true);
    EXPECT_EQ(dict["created"], 1700000000123.0);
    TeamUser noMail = sample();
    noMail.email.clear();
    EXPECT_EQ(noMail.publicDict()["hasEmail"], false);
    EXPECT_EQ(noMail.publicDict()["email"], "");
}

TEST(TeamUserStoredForm, RoundTripsAllThirteenKeys) {
    const nlohmann::json stored = sample().toJSON();
    EXPECT_EQ(stored.size(), 13u);
    EXPECT_TRUE(stored["iter"].is_number_integer());
    const TeamUser back = TeamUser::fromJSON(stored);
    EXPECT_EQ(back.toJSON(), stored);
}

TEST(TeamUserStoredForm, ReadsDamagedFieldsLeniently) {
    struct Case {
        const char* what;
        nlohmann::json obj;
        std::function<void(const TeamUser&)> check;
    };
    const std::vector<Case> cases = {
        {"missing role and status", {{"id", "u1"}},
         [](const TeamUser& u) {
             EXPECT_EQ(u.role, "member");
             EXPECT_EQ(u.status, "pending");
         }},
        {"empty role and status", {{"role", ""}, {"status", ""}},
         [](const TeamUser& u) {
             EXPECT_EQ(u.role, "member");
             EXPECT_EQ(u.status, "pending");
         }},
        {"iter 0", {{"iter", 0}}, [](const TeamUser& u) { EXPECT_EQ(u.iter, 120000); }},
        {"iter absent", nlohmann::json::object(), [](const TeamUser& u) { EXPECT_EQ(u.iter, 120000); }},
        {"iter negative", {{"iter", -4}}, [](const TeamUser& u) { EXPECT_EQ(u.iter, 120000); }},
        {"iter as text", {{"iter", "5000"}}, [](const TeamUser& u) { EXPECT_EQ(u.iter, 5000); }},
        {"created not a number", {{"created", "yesterday"}}, [](const TeamUser& u) { EXPECT_EQ(u.created, 0); }},
        {"created as text", {{"created", "1700000000000"}},
         [](const TeamUser& u) { EXPECT_EQ(u.created, 1700000000000.0); }},
        {"created not finite", {{"created", "nan"}}, [](const TeamUser& u) { EXPECT_EQ(u.created, 0); }},
        {"strings of the wrong type", {{"user", 5}, {"name", nullptr}, {"email", true}},
         [](const TeamUser& u) {
             EXPECT_EQ(u.user, "");
             EXPECT_EQ(u.name, "");
             EXPECT_EQ(u.email, "");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.check(TeamUser::fromJSON(c.obj));
    }
}

}  // namespace
}  // namespace corvane
