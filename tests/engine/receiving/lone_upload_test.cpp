// Files of one chunk: received without a part folder, in a lone file of the parts folder.

#include <cerrno>
#include <atomic>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include "engine/routes_fixture.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

const std::string kID = "0a0a0a0a0a0a0a0a";

// A server connection looked at when a stored file was answered, just before what the
// upload leaves behind is removed: its reply bytes still held back then.
struct AnsweredCheck {
    std::atomic<int> fd{-1};
    std::atomic<int> unsent{-1};  // bytes written and not yet sent
    std::atomic<int> corked{-1};  // held back to leave with more replies
    void look() {
        if (fd < 0) return;
        int bytes = -1, cork = -1;
        socklen_t size = sizeof cork;
        ::ioctl(fd, SIOCOUTQNSD, &bytes);
        ::getsockopt(fd, IPPROTO_TCP, TCP_CORK, &cork, &size);
        unsent = bytes;
        corked = cork;
    }
};

class LoneUploads : public RouteTest {
protected:
    LoneUploads() {
        onFinishStep = [check = answered](FinishStep step) {
            if (step == FinishStep::answered) check->look();
        };
    }
    std::shared_ptr<AnsweredCheck> answered = std::make_shared<AnsweredCheck>();

    RawReply from(const std::string& address, const std::string& method, const std::string& tail,
                  const std::string& body = "") {
        return httpRequestFrom(address, server->port(), method, "/api/upload/" + kID + tail, body).value_or(RawReply{});
    }
    RawReply meta(int64_t size, const std::string& address = "127.0.0.1") {
        const nlohmann::json value{{"name", "a.bin"}, {"rel", ""}, {"size", size}, {"chunks", 1}, {"mtime", 0}};
        return from(address, "PUT", "/meta", value.dump());
    }
    RawReply chunk(int64_t index, const std::string& bytes) { return from("127.0.0.1", "PUT", "/" + std::to_string(index), bytes); }
    RawReply finish(const std::string& address = "127.0.0.1") { return from(address, "POST", "/finish", "{}"); }
    nlohmann::json received(const std::string& address = "127.0.0.1") {
        return nlohmann::json::parse(from(address, "GET", "").body, nullptr, false)["received"];
    }
    // What the parts folder holds once every connection is done with it.
    std::set<std::string> partsEntries() {
        EXPECT_TRUE(waitFor([&] { return server->openConnections() == 0; }));
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(root / ".parts")) names.insert(entry.path().filename().string());
        return names;
    }
};

TEST_F(LoneUploads, AFileOfOneChunkMakesNoFolderAndLeavesNothingOfOursBehind) {
    const struct {
        const char* what;
        std::vector<std::string> chunks;  // sent in turn as chunk 0; the last one counts
        bool cancel;
    } cases[] = {
        {"stored", {"hello"}, false},
        {"chunk sent again, then stored", {"first", "again"}, false},
        {"cancelled", {"gone!"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(meta(5).status, 200);
        for (const std::string& bytes : c.chunks) ASSERT_EQ(chunk(0, bytes).status, 200);
        EXPECT_TRUE(heldUploads(root / ".parts").empty());
        EXPECT_EQ(received(), nlohmann::json::array({0}));
        if (c.cancel) {
            ASSERT_EQ(from("127.0.0.1", "DELETE", "").status, 200);
            EXPECT_EQ(received(), nlohmann::json::array());
            EXPECT_FALSE(fs::exists(root / "a.bin"));
        } else {
            const RawReply stored = finish();
            ASSERT_EQ(stored.status, 200) << stored.body;
            EXPECT_EQ(readFile(root / "a.bin"), c.chunks.back());
            EXPECT_EQ(finish().body, stored.body);  // heard again: the same reply, nothing stored twice
        }
        EXPECT_TRUE(partsEntries().empty());
        if (!c.cancel) {
            // Once answered, the stored file is the lone file itself, with no second name
            // and no attribute of ours.
            struct stat st {};
            ASSERT_EQ(::stat((root / "a.bin").c_str(), &st), 0);
            EXPECT_EQ(st.st_nlink, 1u);
            EXPECT_LT(::getxattr((root / "a.bin").c_str(), "user.corvane.lone", nullptr, 0), 0);
            EXPECT_EQ(errno, ENODATA);
            fs::remove(root / "a.bin");
        }
    }
}

TEST_F(LoneUploads, AnUploadThatTurnsOutLargerGetsAFolderAndKeepsWhatItHeld) {
    const struct {
        const char* what;
        int64_t firstSize;
        std::vector<std::pair<int64_t, std::string>> chunks;
        int64_t finalSize;  // announced again before the finish
        std::string stored;
    } cases[] = {
        {"a second chunk comes", 3, {{0, "abc"}, {1, "def"}}, 6, "abcdef"},
        {"the chunk is not the announced size", 10, {{0, "xy"}}, 2, "xy"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(meta(c.firstSize).status, 200);
        for (const auto& [index, bytes] : c.chunks) ASSERT_EQ(chunk(index, bytes).status, 200);
        EXPECT_EQ(heldUploads(root / ".parts"), std::set<std::string>{kID});
        ASSERT_EQ(meta(c.finalSize).status, 200);
        EXPECT_EQ(received().size(), c.chunks.size());
        const RawReply stored = finish();
        ASSERT_EQ(stored.status, 200) << stored.body;
        EXPECT_EQ(readFile(root / "a.bin"), c.stored);
        fs::remove(root / "a.bin");
        for (const std::string& name : partsEntries()) EXPECT_TRUE(name.starts_with(".spare-")) << name;
    }
}

TEST_F(LoneUploads, AFileUnderALongPathIsStored) {
    // Its meta and reply are recorded on the lone file, whose attribute has room for a
    // few KiB on ext4: a meta too long for it gets a part folder instead.
    for (const size_t length : {size_t(200), size_t(1000), size_t(1980), size_t(3000)}) {
        SCOPED_TRACE(length);
        std::string rel;
        while (rel.size() + 100 < length) rel += std::string(90, 'd') + "/";
        rel += std::string(length - rel.size() - 6, 'f') + "/a.bin";
        const nlohmann::json value{{"name", "a.bin"}, {"rel", rel}, {"size", 3}, {"chunks", 1}, {"mtime", 0}};
        ASSERT_EQ(from("127.0.0.1", "PUT", "/meta", value.dump()).status, 200);
        ASSERT_EQ(chunk(0, "abc").status, 200);
        const RawReply stored = finish();
        ASSERT_EQ(stored.status, 200) << stored.body;
        EXPECT_EQ(readFile(root / rel), "abc");
        fs::remove(root / rel);
    }
}

TEST_F(LoneUploads, AChunkStillArrivingWhenItsUploadIsCancelledOrFinishedIsNeverStored) {
    const struct {
        const char* method;
        const char* tail;
        int status;
    } cases[] = {{"DELETE", "", 200}, {"POST", "/finish", 400}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        ASSERT_EQ(meta(8).status, 200);
        RawClient held(server->port(), "127.0.0.1");
        ASSERT_TRUE(held.send("PUT /api/upload/" + kID + "/0 HTTP/1.1\r\nContent-Length: 8\r\n\r\nabcd"));
        ASSERT_TRUE(waitFor([&] { return filesWrittenUnder(root / ".parts", 4) == 1; }));
        EXPECT_EQ(from("127.0.0.1", c.method, c.tail, c.status == 400 ? "{}" : "").status, c.status);
        held.send("efgh");
        const auto late = held.readReply();
        EXPECT_FALSE(late && late->status == 200) << late->body;
        held.close();
        EXPECT_EQ(received(), nlohmann::json::array());
        EXPECT_FALSE(fs::exists(root / "a.bin"));
        EXPECT_TRUE(partsEntries().empty());
        from("127.0.0.1", "DELETE", "");
    }
}

TEST_F(LoneUploads, FourRequestsSentTogetherAreAnsweredInOrderAndTogetherBeforeTheLeftoversGo) {
    // Each reply used to leave as a segment of its own, waking the sender four times. Then
    // all four waited for the lone file's attribute and name to be removed after the finish:
    // on a disk that discards freed blocks at once, longer than the rest of the file took.
    const nlohmann::json value{{"name", "a.bin"}, {"rel", ""}, {"size", 5}, {"chunks", 1}, {"mtime", 0}};
    const std::string path = "/api/upload/" + kID;
    const auto request = [&](const std::string& method, const std::string& tail, const std::string& body) {
        return method + " " + path + tail + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    RawClient client(server->port());
    ASSERT_TRUE(waitFor([&] { return otherEndOf(client.fd()) >= 0; }));
    answered->fd = otherEndOf(client.fd());
    ASSERT_TRUE(client.send(request("GET", "", "") + request("PUT", "/meta", value.dump()) +
                            request("PUT", "/0", "hello") + request("POST", "/finish", "{}")));
    std::vector<RawReply> replies;
    for (int k = 0; k < 4; ++k) {
        const auto reply = client.readReply();
        ASSERT_TRUE(reply) << k;
        replies.push_back(*reply);
    }
    EXPECT_EQ(nlohmann::json::parse(replies[0].body)["received"], nlohmann::json::array());
    for (const RawReply& reply : replies) EXPECT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(nlohmann::json::parse(replies[3].body)["n"], "a.bin");
    EXPECT_EQ(readFile(root / "a.bin"), "hello");
    EXPECT_EQ(dataSegmentsIn(client.fd()), 1);
    // The replies may arrive before the server reaches the clean-up and looks.
    ASSERT_TRUE(waitFor([&] { return answered->corked >= 0; }));
    EXPECT_EQ(answered->unsent, 0) << "the replies waited for the leftovers";
    EXPECT_EQ(answered->corked, 0);
    client.close();
    EXPECT_TRUE(partsEntries().empty());
}

TEST_F(LoneUploads, AnotherAddressTakingOverAQuietOneNeverGetsItsChunk) {
    setClock(1000);
    ASSERT_EQ(meta(4).status, 200);
    ASSERT_EQ(chunk(0, "mine").status, 200);
    EXPECT_EQ(meta(4, "127.0.0.2").status, 403);  // not quiet yet
    setClock(1000 + UploadRecords::kQuietBeforeTakeover);
    ASSERT_EQ(meta(4, "127.0.0.2").status, 200);
    EXPECT_EQ(received("127.0.0.2"), nlohmann::json::array());
    EXPECT_EQ(finish("127.0.0.2").status, 400);
    EXPECT_EQ(finish().status, 403);
    EXPECT_FALSE(fs::exists(root / "a.bin"));
    EXPECT_TRUE(partsEntries().empty());
}

}  // namespace
}  // namespace corvane::test
