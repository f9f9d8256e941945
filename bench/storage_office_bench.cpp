// An office's load on the storage extension: twenty simultaneous sign-ins (POST
// /api/auth/login, each a different account) with 10 and with 1,000 accounts, one sign-in
// alone, and the NAS listing (GET /api/fs) of a folder of 50,000 entries beside PROPFIND
// Depth 1 of the same folder: seconds and the growth of the process's peak memory. Client
// and server share this process; the client keeps no reply body. Prints numbers; asserts nothing.
//
//   scripts/netns-run build/storage_office_bench [entries, default 50000] [port, default 39400]

#include <fstream>
#include <nlohmann/json.hpp>

#include "bench_support.h"
#include "storage/mailer.h"
#include "storage/storage_routes.h"
#include "storage/team_password.h"
#include "storage/team_store.h"
#include "storage/team_user.h"

namespace fs = std::filesystem;
using bench::Clock;
using bench::secondsSince;

namespace {

constexpr const char* kPassword = "office-password";


std::shared_ptr<corvane::HTTPServer> storageServer(const fs::path& root, int port) {
    return bench::startServer(root, port, "", [](corvane::RouteTable& table) {
        corvane::addStorageRoutes(table, corvane::StorageContext{std::make_shared<corvane::TeamStore>(),
                                                                 std::make_shared<corvane::Mailer>(),
                                                                 corvane::TeamStore::systemClock()});
    });
}

std::string loginName(int k) { return "member" + std::to_string(k); }

// The team's accounts file with an admin and `members` active members, all with one
// password record derived once (the rounds of a real account).
void writeAccounts(const fs::path& root, int members, const corvane::PasswordRecord& record) {
    nlohmann::json users = nlohmann::json::array();
    for (int k = 0; k <= members; ++k) {
        corvane::TeamUser u;
        char id[16];
        std::snprintf(id, sizeof id, "u%012x", k + 1);
        u.id = id;
        u.user = k == 0 ? "admin" : loginName(k);
        u.name = u.user;
        u.salt = record.salt;
        u.hash = record.hash;
        u.iter = record.iter;
        u.role = k == 0 ? "admin" : "member";
        u.status = "active";
        u.created = 1.7e12;
        u.approvedAt = u.created;
        users.push_back(u.toJSON());
    }
    fs::create_directories(root / "_team");
    std::ofstream(root / "_team" / "accounts.json") << nlohmann::json{{"version", 1}, {"team", "Bench"}, {"users", users}}.dump(2);
}

// Seconds until the sign-in of member k is answered 200.
std::optional<double> signIn(int port, int k) {
    const std::string body = nlohmann::json{{"user", loginName(k)}, {"pass", kPassword}}.dump();
    bench::Connection conn(port);
    const auto start = Clock::now();
    const std::string head = "POST /api/auth/login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                             "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    if (!conn.ok() || !conn.send(head, body.data(), body.size()) || conn.reply(nullptr) != 200) return std::nullopt;
    return secondsSince(start);
}

void signIns(const fs::path& folder, int port, int accounts, const corvane::PasswordRecord& record) {
    const fs::path root = folder / ("team" + std::to_string(accounts));
    writeAccounts(root, accounts, record);
    const auto server = storageServer(root, port);
    if (!server) return;
    const auto alone = signIn(server->port(), 1);  // also binds the store to the folder
    constexpr int kTogether = 20;
    constexpr int kRounds = 5;
    std::vector<double> rounds;
    int failed = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<std::optional<double>> times(kTogether);
        std::vector<std::thread> threads;
        const auto start = Clock::now();
        // With fewer accounts than sign-ins, some accounts sign in twice.
        for (int k = 0; k < kTogether; ++k) {
            threads.emplace_back([&, k] { times[size_t(k)] = signIn(server->port(), 1 + k % accounts); });
        }
        for (auto& t : threads) t.join();
        rounds.push_back(secondsSince(start));
        for (const auto& t : times) failed += t ? 0 : 1;
    }
    std::sort(rounds.begin(), rounds.end());
    std::printf("%d accounts: one sign-in alone %.2f s; %d at once, all answered in: best %.2f s, median %.2f s "
                "(%d rounds, %d failed)\n",
                accounts, alone.value_or(-1), kTogether, rounds.front(), rounds[rounds.size() / 2], kRounds, failed);
    server->stop();
}

void listings(const fs::path& folder, int port, int entries) {
    const fs::path root = folder / "recv";
    const fs::path big = root / "big";
    fs::create_directories(big);
    for (int k = 0; k < entries; ++k) {
        const std::string name = (k % 10 == 0 ? "文件夹 " : "report ") + std::to_string(k) + (k % 10 == 0 ? "" : ".txt");
        if (k % 10 == 0) {
            fs::create_directory(big / name);
        } else {
            std::ofstream(big / name) << k;
        }
    }
    const auto server = storageServer(root, port);
    if (!server) return;
    const struct {
        const char* what;
        std::string request;
    } kinds[] = {
        {"GET /api/fs", "GET /api/fs?path=big HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"},
        {"PROPFIND Depth 1", "PROPFIND /dav/big/ HTTP/1.1\r\nHost: 127.0.0.1\r\nDepth: 1\r\nContent-Length: 0\r\n\r\n"},
    };
    for (const auto& kind : kinds) {
        std::vector<double> seconds;
        long grew = 0;
        int64_t bytes = 0;
        for (int round = 0; round < 3; ++round) {
            bench::Connection conn(server->port());
            bench::resetPeak();
            const long before = bench::peakKiB();
            const auto start = Clock::now();
            const int status = conn.send(kind.request) ? conn.reply(nullptr, &bytes).value_or(0) : 0;
            seconds.push_back(secondsSince(start));
            grew = std::max(grew, bench::peakKiB() - before);
            if (status != 200 && status != 207) std::printf("%s answered %d\n", kind.what, status);
        }
        std::sort(seconds.begin(), seconds.end());
        std::printf("%s of %d entries (%lld bytes): best %.2f s, median %.2f s, peak memory +%.1f MiB\n", kind.what,
                    entries, static_cast<long long>(bytes), seconds.front(), seconds[1], double(grew) / 1024);
    }
    server->stop();
}

}  // namespace

int main(int argc, char** argv) {
    const int entries = argc > 1 ? std::atoi(argv[1]) : 50000;
    const int port = argc > 2 ? std::atoi(argv[2]) : 39400;
    const fs::path folder = bench::makeTempFolder("corvane-bench-");
    if (folder.empty()) return 1;
    listings(folder, port, entries);
    const corvane::PasswordRecord record = corvane::makePasswordRecord(kPassword);
    signIns(folder, port + 20, 10, record);
    signIns(folder, port + 40, 1000, record);
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
