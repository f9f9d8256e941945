// The receive folder listing: 5,000 files in 50 folders, listed through GET /api/files
// on one keep-alive connection, against `find -printf` over the same tree. Prints
// milliseconds (best and median of the repetitions); asserts nothing.
//
//   scripts/netns-run build/listing_bench [repetitions, default 20] [port, default 39300]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"

namespace fs = std::filesystem;
using bench::Clock;
using bench::secondsSince;

namespace {

// 50 folders of 100 files each, names of mixed case, digits and CJK.
bool makeTree(const fs::path& root) {
    static const char* const kStems[] = {"report", "Photo", "照片", "notes", "IMG_", "data-set"};
    for (int folder = 0; folder < 50; ++folder) {
        const fs::path dir = root / ("folder " + std::to_string(folder)) / "inner";
        std::error_code ec;
        fs::create_directories(dir, ec);
        if (ec) return false;
        for (int k = 0; k < 100; ++k) {
            const std::string name = std::string(kStems[k % 6]) + std::to_string(k * 7 % 101) + "-" +
                                     std::to_string(k) + ".txt";
            std::ofstream(dir / name) << name;
        }
    }
    return true;
}

struct Times {
    double best = 0;
    double median = 0;
};

Times summarize(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return {ms.front(), ms[ms.size() / 2]};
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = std::max(1, argc > 1 ? std::atoi(argv[1]) : 20);
    const int port = argc > 2 ? std::atoi(argv[2]) : 39300;
    const fs::path folder = bench::makeTempFolder("corvane-bench-");
    if (folder.empty()) return 1;
    const fs::path root = folder / "recv";
    if (!makeTree(root)) return 1;
    const auto server = bench::startServer(root, port, "");
    if (!server) return 1;

    bench::Connection conn(server->port());
    std::vector<double> listing;
    int64_t bytes = 0;
    for (int k = 0; k < repetitions; ++k) {
        const auto start = Clock::now();
        if (!conn.send("GET /api/files HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n") || conn.reply(nullptr, &bytes) != 200) {
            std::fprintf(stderr, "listing failed\n");
            return 1;
        }
        listing.push_back(secondsSince(start) * 1000.0);
    }
    std::vector<double> find;
    const std::string command = "find '" + root.string() + "' -printf '%p %s %T@\\n' > /dev/null";
    for (int k = 0; k < repetitions; ++k) {
        const auto start = Clock::now();
        if (std::system(command.c_str()) != 0) return 1;
        find.push_back(secondsSince(start) * 1000.0);
    }
    const Times ours = summarize(listing);
    const Times theirs = summarize(find);
    std::printf("GET /api/files, 5000 files (%lld bytes): best %.2f ms, median %.2f ms\n",
                static_cast<long long>(bytes), ours.best, ours.median);
    std::printf("find -printf over the same tree:      best %.2f ms, median %.2f ms\n", theirs.best, theirs.median);
    std::printf("ratio (median): %.2f x find\n", ours.median / theirs.median);

    server->stop();
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
