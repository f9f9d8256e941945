// The install half of the updater: download with progress, the package cache,
// the digest check, staging on a worker thread and the quit that lets the swap
// script run.
#include "updater/updater.h"

#include <chrono>
#include <thread>
#include <unistd.h>

#include <QCoreApplication>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <QUrl>

#include "base/text_util.h"
#include "updater/bundle_staging.h"
#include "updater/main_thread_post.h"
#include "updater/package_download.h"
#include "updater/package_md5.h"
#include "updater/update_cache.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

using Kind = UpdatePhase::Kind;

const char* const kNoChecksum = "清单缺少校验值，为安全起见请到下载页手动更新";
const char* const kDigestMismatch = "安装包校验不通过（可能没下完整），请重试一次";
const char* const kUnreadable = "读不到安装包";
const char* const kBadVersionName = "保存安装包失败：版本号不能用作文件名";

constexpr std::chrono::milliseconds kQuitDelay{200};
constexpr std::chrono::milliseconds kForcedExitDelay{3200};

bool isUsableURL(const std::string& text) {
    const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
    return url.isValid() && !url.scheme().isEmpty();
}

void openWithXdgOpen(const std::string& url) {
    QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromStdString(url)});
}

// The orderly quit lets the swap script find the process gone; should it hang,
// a thread ends the process, since no Qt timer fires once the loop has stopped.
void quitSoonForSwap() {
    QTimer::singleShot(kQuitDelay, Qt::PreciseTimer, QCoreApplication::instance(), &QCoreApplication::quit);
    std::thread([] {
        std::this_thread::sleep_for(kForcedExitDelay);
        _exit(0);
    }).detach();
}

}  // namespace

void Updater::completeInstallOptions(Options& options) {
    if (options.executable.empty()) {
        std::error_code ec;
        options.executable = fs::read_symlink("/proc/self/exe", ec);
    }
    if (options.cacheFolder.empty()) options.cacheFolder = defaultUpdateCacheFolder();
    if (options.tempFolder.empty()) options.tempFolder = defaultTempFolder();
    if (options.pid == 0) options.pid = ::getpid();
    if (!options.openURL) options.openURL = openWithXdgOpen;
    if (!options.startSwap) options.startSwap = startSwapDetached;
    if (!options.quitForSwap) options.quitForSwap = quitSoonForSwap;
}

void Updater::install() {
    if (phase_.kind != Kind::available) return;
    if (!entry_ || !isUsableURL(entry_->url)) {
        options_.openURL(pageURL());
        return;
    }
    const std::string md5 = lowerASCII(entry_->md5.value_or(""));
    if (md5.size() != 32) {
        setPhase(UpdatePhase::failed(kNoChecksum));
        return;
    }
    // The version names the cached file: refused before anything is written when it could leave the folder.
    const std::optional<std::string> name = packageFileName(latest_);
    if (!name) {
        setPhase(UpdatePhase::failed(kBadVersionName));
        return;
    }
    expectedMD5_ = md5;
    packageName_ = *name;
    setPhase(UpdatePhase::downloading(0));

    const fs::path file = options_.tempFolder / ("corvane-download-" + newUUIDText() + ".zip");
    auto task = std::make_shared<PackageDownload>(entry_->url, file, options_.downloadIdleSeconds);
    download_ = task;
    const QPointer<Updater> self(this);
    task->start({
        [self, task](int64_t written, int64_t total) {
            if (self) self->downloadProgress(task, written, total);
        },
        [self, task](bool ok, const std::string& error) {
            if (self) self->downloadFinished(task, ok, error);
        },
    });
}

void Updater::cancel() {
    // Only a download can be cancelled: the later steps run to their end.
    if (phase_.kind != Kind::downloading) return;
    if (download_) download_->cancel();
    download_.reset();
    setPhase(UpdatePhase::of(Kind::available));
}

void Updater::downloadProgress(const std::shared_ptr<PackageDownload>& task, int64_t written, int64_t total) {
    if (task != download_ || phase_.kind != Kind::downloading) return;
    if (const std::optional<double> fraction = downloadFraction(written, total)) {
        setPhase(UpdatePhase::downloading(*fraction));
    }
}

void Updater::downloadFinished(const std::shared_ptr<PackageDownload>& task, bool ok, const std::string& error) {
    // A cancelled task still reports its end; by then it is no longer the current one.
    if (task != download_) return;
    download_.reset();
    if (phase_.kind != Kind::downloading) return;
    if (!ok) {
        setPhase(UpdatePhase::failed("下载中断：" + error));
        return;
    }
    savePackage(task->file());
}

void Updater::savePackage(const fs::path& downloaded) {
    std::error_code ec;
    fs::create_directories(options_.cacheFolder, ec);  // a failure shows in the move
    const fs::path destination = options_.cacheFolder / packageName_;
    fs::remove(destination, ec);
    if (const std::optional<std::string> reason = moveFileOnto(downloaded, destination)) {
        fs::remove(downloaded, ec);
        setPhase(UpdatePhase::failed("保存安装包失败：" + *reason));
        return;
    }
    setPhase(UpdatePhase::of(Kind::verifying));
    verifyAndInstall(destination);
}

void Updater::verifyAndInstall(const fs::path& zip) {
    const std::optional<std::string> digest = md5HexOfFile(zip);
    if (!digest) {
        setPhase(UpdatePhase::failed(kUnreadable));
        return;
    }
    if (*digest != expectedMD5_) {
        std::error_code ec;
        fs::remove(zip, ec);
        log("更新包校验失败：期望 " + expectedMD5_ + "，实际 " + *digest);
        setPhase(UpdatePhase::failed(kDigestMismatch));
        return;
    }
    setPhase(UpdatePhase::of(Kind::installing));

    const StagingRequest request{zip, options_.executable, options_.tempFolder, options_.pid, options_.startSwap};
    const QPointer<Updater> self(this);
    std::thread([request, self, quit = options_.quitForSwap] {
        const std::optional<UpdateError> failure = stageAndSwap(request);
        postToMainThread([self, quit, failure] {
            if (!failure) {
                quit();
                return;
            }
            if (self) self->setPhase(UpdatePhase::failed(failure->message));
        });
    }).detach();
}

}  // namespace corvane
