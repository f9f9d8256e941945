// The loop-back self-test: find a device, test a whole round trip with it and
// write the report ("--selftest PATH").
#include <QPointer>

#include "app/app_state.h"
#include "app/self_test_transfer.h"
#include "base/cfg.h"
#include "base/whole_files.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

constexpr int selfTestLooks = 24;

// The boot-log entry (when there is one) and the report file; off the main thread.
void recordOutcome(const fs::path& logFolder, const std::string& logEntry, const fs::path& output,
                   const std::string& report) {
    if (!logEntry.empty()) bootLogIn(logFolder, logEntry);
    writeWholeFile(output, report);  // a report that cannot be written is left out
}

}  // namespace

void AppState::runSelfTest(const std::string& output, std::function<void()> done) {
    lookForSelfTestPeer(0, output, std::move(done));
}

void AppState::lookForSelfTestPeer(int attempt, const std::string& output, std::function<void()> done) {
    reloadPeers();
    if (!peers_.empty()) {
        testRoundTripWith(peers_.front(), output, std::move(done));
        return;
    }
    const auto look = [this, attempt, output, done = std::move(done)] {
        if (attempt + 1 < selfTestLooks) {
            lookForSelfTestPeer(attempt + 1, output, done);
            return;
        }
        workers_.run([queue = env_.mainQueue, logFolder = env_.appSupport, output, done] {
            recordOutcome(logFolder, "SELFTEST FAIL: 未发现对端", output, "FAIL: 未发现对端");
            queue->post(done);
        });
    };
    QTimer::singleShot(env_.delays.selfTestLook, Qt::PreciseTimer, this, look);
}

void AppState::testRoundTripWith(const Peer& peer, const std::string& output, std::function<void()> done) {
    const std::optional<APIClient> c = client(peer);
    if (!c) {
        workers_.run([queue = env_.mainQueue, output, done = std::move(done)] {
            recordOutcome({}, "", output, "FAIL: 客户端构造失败");  // nothing goes to the boot log
            queue->post(done);
        });
        return;
    }
    const std::string deviceLine = "发现对端: " + peer.name + " " + peer.ip + ":" + std::to_string(peer.port);
    // Every request of the round trip can wait long on a silent device: a worker runs it.
    workers_.run([queue = env_.mainQueue, logFolder = env_.appSupport, c = *c, deviceLine, output,
                  done = std::move(done)] {
        std::vector<std::string> lines{deviceLine};
        for (std::string& line : selfTestRoundTrip(c)) lines.push_back(std::move(line));
        recordOutcome(logFolder, selfTestLogEntry(lines), output, selfTestReport(lines));
        queue->post(done);
    });
}

}  // namespace corvane
