// The detail pane's file list with 5,000 files: building and painting it, and
// applying a new listing in which one file changed or every file was replaced.
// Prints milliseconds; asserts nothing. Runs on the offscreen platform.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QApplication>
#include <QListView>

#include "views/main/file_list_model.h"
#include "views/main/file_row_delegate.h"
#include "views/theme.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<corvane::FileItem> listing(int count, const std::string& tag) {
    std::vector<corvane::FileItem> files;
    files.reserve(size_t(count));
    for (int k = 0; k < count; ++k) {
        const std::string name = tag + "-文件-" + std::to_string(k) + (k % 3 ? ".jpg" : ".pdf");
        files.push_back({"文件夹" + std::to_string(k % 40) + "/" + name, name, int64_t(k) * 1537, 1.7e12 + k});
    }
    return files;
}

double millis(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    corvane::Theme::apply(app);
    constexpr int kFiles = 5000;

    auto started = Clock::now();
    QListView view;
    corvane::FileListModel model;
    corvane::FileRowDelegate delegate;
    view.setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    view.setItemDelegate(&delegate);
    model.setFiles(listing(kFiles, "a"), false);
    view.setModel(&model);
    view.resize(787, 520);
    view.show();
    view.grab();
    std::printf("build and paint %d files: %.1f ms\n", kFiles, millis(started));

    auto changed = listing(kFiles, "a");
    changed[kFiles / 2].size += 1;
    started = Clock::now();
    model.setFiles(changed, false);
    view.grab();
    std::printf("refresh, one file changed: %.1f ms\n", millis(started));

    started = Clock::now();
    model.setFiles(listing(kFiles, "b"), false);
    view.grab();
    std::printf("refresh, every file replaced: %.1f ms\n", millis(started));
    return 0;
}
