// A kill at each step of a finish, the server started again, and the finish sent again
// as the send queue sends it when its connection closed before the reply: the upload is
// stored once, byte for byte, and the finish answers 200. The killed server runs in a
// child process that kills itself when a finish reaches the step.

#include <csignal>
#include <cstdlib>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/routes_fixture.h"

namespace fs = std::filesystem;

namespace corvane::test {
namespace {

const std::string kID = "5a5a5a5a5a5a5a5a";

// A server of the receive folder in a child process; killed at the end of the scope
// should the step never come.
class ServerKilledAt {
public:
    ServerKilledAt(const fs::path& root, FinishStep step) {
        int pipe[2];
        if (::pipe(pipe) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(pipe[0]);
            ServerOptions options = withTestPorts();
            options.onFinishStep = [step](FinishStep reached) {
                if (reached == step) ::raise(SIGKILL);
            };
            HTTPServer server("dev-1", "Desk", "tok", "", root, options);
            const int port = server.start() ? server.port() : 0;
            if (::write(pipe[1], &port, sizeof port) != sizeof port) ::_exit(1);
            while (true) ::pause();
        }
        ::close(pipe[1]);
        if (pid_ > 0 && ::read(pipe[0], &port_, sizeof port_) != sizeof port_) port_ = 0;
        ::close(pipe[0]);
    }
    ~ServerKilledAt() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    ServerKilledAt(const ServerKilledAt&) = delete;
    ServerKilledAt& operator=(const ServerKilledAt&) = delete;

    int port() const { return port_; }
    // Whether the process ended by its own kill.
    bool killedItself() {
        int status = 0;
        const bool ended = ::waitpid(pid_, &status, 0) == pid_;
        pid_ = -1;
        return ended && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

std::optional<RawReply> request(int port, const std::string& method, const std::string& target,
                                const std::string& body = "") {
    return httpRequest(port, method, "/api/upload/" + kID + target, {}, body);
}

// The names in the receive folder but the parts folder.
std::set<std::string> receivedNames(const fs::path& root) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(root)) names.insert(entry.path().filename().string());
    names.erase(".parts");
    return names;
}

// "abc" sent as a.bin by a server killed once the file is stored, before the claim goes.
// With `partFolder` the chunk comes before the meta, which gives the upload a part folder;
// else it is a lone upload of one chunk.
void storeKilledOnceStored(const fs::path& root, bool partFolder = false) {
    const nlohmann::json meta{{"name", "a.bin"}, {"rel", ""}, {"size", 3}, {"chunks", 1}};
    ServerKilledAt killed(root, FinishStep::stored);
    ASSERT_NE(killed.port(), 0);
    const auto sendChunk = [&] { return request(killed.port(), "PUT", "/0", "abc").value_or(RawReply{}).status; };
    if (partFolder) {
        ASSERT_EQ(sendChunk(), 200);
    }
    ASSERT_EQ(request(killed.port(), "PUT", "/meta", meta.dump()).value_or(RawReply{}).status, 200);
    if (!partFolder) {
        ASSERT_EQ(sendChunk(), 200);
    }
    request(killed.port(), "POST", "/finish", "{}");
    ASSERT_TRUE(killed.killedItself());
}

// A folder seen through bindfs: every call a round trip to a user-space daemon, and
// renameat2(RENAME_NOREPLACE) refused with EINVAL, as on GlusterFS. Unmounted at the end.
class BindfsMount {
public:
    explicit BindfsMount(const fs::path& base) : under_(base / "under"), mounted_(base / "mounted") {
        fs::create_directories(under_);
        fs::create_directories(mounted_);
        if (::access("/dev/fuse", R_OK | W_OK) != 0) {
            why_ = "/dev/fuse is missing or closed to this user";
            return;
        }
        const std::string command = "bindfs '" + under_.string() + "' '" + mounted_.string() + "' 2>/dev/null";
        if (std::system(command.c_str()) != 0) why_ = "bindfs is missing or cannot mount (scripts/install-deps.sh)";
    }
    ~BindfsMount() {
        if (why_.empty()) std::system(("fusermount -u '" + mounted_.string() + "' 2>/dev/null || umount -l '" +
                                       mounted_.string() + "'").c_str());
    }
    BindfsMount(const BindfsMount&) = delete;
    BindfsMount& operator=(const BindfsMount&) = delete;

    // Why there is no mount; empty when there is.
    const std::string& whyNot() const { return why_; }
    const fs::path& path() const { return mounted_; }

private:
    fs::path under_;
    fs::path mounted_;
    std::string why_;
};

// A kill once the file had left the part folder brought the claim back at start: an
// upload of one chunk file was stored again as "a (1).bin", one of in-place chunks
// listed them held without their data file and every finish answered 500.
void finishKilledAtEveryStep(const std::function<fs::path()>& newRoot) {
    const struct Form {
        const char* name;
        std::vector<std::string> chunks;
    } forms[] = {
        {"one chunk file", {test::patterned(3, 'a')}},
        {"chunks in place", {test::patterned(4194304, 'b'), test::patterned(4194304, 'c')}},
        {"chunk files joined", {test::patterned(2, 'd'), test::patterned(5, 'e')}},
    };
    const struct {
        FinishStep step;
        const char* name;
        bool fileStored;
    } steps[] = {
        {FinishStep::claimed, "claimed", false},   {FinishStep::built, "built", false},
        {FinishStep::noted, "noted", false},       {FinishStep::stored, "stored", true},
        {FinishStep::setAside, "set aside", true}, {FinishStep::answered, "answered", true},
    };
    for (const Form& form : forms) {
        std::string whole;
        for (const std::string& chunk : form.chunks) whole += chunk;
        const nlohmann::json meta{{"name", "a.bin"}, {"rel", ""}, {"size", whole.size()}, {"chunks", form.chunks.size()}};
        for (const auto& step : steps) {
            SCOPED_TRACE(std::string(form.name) + ", killed when " + step.name);
            const fs::path root = newRoot();
            {
                ServerKilledAt killed(root, step.step);
                ASSERT_NE(killed.port(), 0);
                ASSERT_EQ(request(killed.port(), "PUT", "/meta", meta.dump()).value_or(RawReply{}).status, 200);
                for (size_t k = 0; k < form.chunks.size(); ++k) {
                    const auto reply = request(killed.port(), "PUT", "/" + std::to_string(k), form.chunks[k]);
                    ASSERT_EQ(reply.value_or(RawReply{}).status, 200) << k;
                }
                request(killed.port(), "POST", "/finish", "{}");
                ASSERT_TRUE(killed.killedItself());
            }
            EXPECT_EQ(receivedNames(root).size(), step.fileStored ? 1u : 0u);

            HTTPServer server("dev-1", "Desk", "tok", "", root, withTestPorts());
            ASSERT_TRUE(server.start());
            // What came back can finish; a stored upload starts afresh.
            const auto status = nlohmann::json::parse(request(server.port(), "GET", "").value_or(RawReply{}).body);
            EXPECT_EQ(status["exists"], !step.fileStored);
            if (!step.fileStored) {
                EXPECT_EQ(status["received"].size(), form.chunks.size());
            }
            const auto again = request(server.port(), "POST", "/finish", "{}").value_or(RawReply{});
            EXPECT_EQ(again.status, 200) << again.body;
            const auto stored = nlohmann::json::parse(again.body, nullptr, false);
            EXPECT_EQ(stored["n"], "a.bin") << again.body;
            EXPECT_EQ(stored["s"], whole.size()) << again.body;
            EXPECT_EQ(receivedNames(root), std::set<std::string>{"a.bin"});
            EXPECT_TRUE(readFile(root / "a.bin") == whole);
            stopAndDrain(server);
            for (const auto& entry : fs::directory_iterator(root / ".parts")) {
                EXPECT_FALSE(entry.path().filename().string().starts_with(".finishing-")) << entry.path();
            }
        }
    }
}

TEST(UploadFinishKilled, AtEveryStepTheFinishSentAgainStoresTheFileOnce) {
    Sandbox sandbox;
    int round = 0;
    finishKilledAtEveryStep([&] { return sandbox / ("recv-" + std::to_string(round++)); });
}

TEST(UploadFinishKilled, AtEveryStepOnAFileSystemWithoutNoReplaceMovesTheFileStoresItOnce) {
    Sandbox sandbox;
    const BindfsMount mount(sandbox.path());
    if (!mount.whyNot().empty()) GTEST_SKIP() << mount.whyNot();
    int round = 0;
    finishKilledAtEveryStep([&] { return mount.path() / ("recv-" + std::to_string(round++)); });
}

TEST(UploadFinishKilled, BetweenTheLinkAndTheUnlinkOfTheMovedFileTheFileCountsAsStored) {
    // Where RENAME_NOREPLACE is refused the file moves by a link into the receive folder
    // and the unlink of its name in the claim: a kill between the two left the claim's file
    // in place, the claim came back at start, and the finish sent again stored "a (1).bin".
    Sandbox sandbox;
    const fs::path root = sandbox / "recv";
    ASSERT_NO_FATAL_FAILURE(storeKilledOnceStored(root, true));
    // The claim as the link left it: the chunk file under both names.
    std::vector<fs::path> claims;
    for (const auto& entry : fs::directory_iterator(root / ".parts")) {
        if (entry.path().filename().string().starts_with(".finishing-")) claims.push_back(entry.path());
    }
    ASSERT_EQ(claims.size(), 1u);
    ASSERT_EQ(::link((root / "a.bin").c_str(), (claims[0] / chunkFileName(0)).c_str()), 0);

    HTTPServer server("dev-1", "Desk", "tok", "", root, withTestPorts());
    ASSERT_TRUE(server.start());
    const auto status = nlohmann::json::parse(request(server.port(), "GET", "").value_or(RawReply{}).body);
    EXPECT_EQ(status["exists"], false);
    const auto again = request(server.port(), "POST", "/finish", "{}").value_or(RawReply{});
    EXPECT_EQ(again.status, 200) << again.body;
    EXPECT_EQ(nlohmann::json::parse(again.body, nullptr, false)["n"], "a.bin") << again.body;
    EXPECT_EQ(receivedNames(root), std::set<std::string>{"a.bin"});
    EXPECT_EQ(readFile(root / "a.bin"), "abc");
    stopAndDrain(server);
}

TEST(UploadFinishKilled, ANoteReadAtStartOutlivesASecondKillUntilItsReplyIsGivenOrItsTimeIsOver) {
    // A kill once the file was stored, then a second kill right after the start: the
    // note was gone with the first start, the finish sent again got 404, and the file
    // sent again was stored a second time.
    const struct {
        double later;  // seconds after the store at the last start
        int status;
        bool partFolder;
    } cases[] = {{0, 200, false}, {UploadRecords::kStoredReplyKept, 404, false}, {0, 200, true},
                 {UploadRecords::kStoredReplyKept, 404, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.later << " s later" << (c.partFolder ? ", part folder" : ", lone"));
        Sandbox sandbox;
        const fs::path root = sandbox / "recv";
        ASSERT_NO_FATAL_FAILURE(storeKilledOnceStored(root, c.partFolder));
        {
            // Killed as soon as it has started.
            ServerKilledAt started(root, FinishStep::stored);
            ASSERT_NE(started.port(), 0);
        }
        ServerOptions options = withTestPorts();
        options.clock = [later = c.later] {
            return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count() + later;
        };
        HTTPServer server("dev-1", "Desk", "tok", "", root, options);
        ASSERT_TRUE(server.start());
        for (int again = 0; again < 2; ++again) {
            const auto reply = request(server.port(), "POST", "/finish", "{}").value_or(RawReply{});
            EXPECT_EQ(reply.status, c.status) << reply.body;
            if (c.status == 200) {
                EXPECT_EQ(nlohmann::json::parse(reply.body, nullptr, false)["n"], "a.bin") << reply.body;
            }
        }
        EXPECT_EQ(receivedNames(root), std::set<std::string>{"a.bin"});
        stopAndDrain(server);
        // The note went once its reply was given again, or once its time was over.
        EXPECT_TRUE(onlySpareFolders(root / ".parts"));
    }
}

}  // namespace
}  // namespace corvane::test
