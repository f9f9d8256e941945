#pragma once
// The self-updater as the interface sees it: the phase, the newest version and
// its release notes. A check fetches the manifest on a worker thread and
// publishes the outcome on the main thread; an install downloads the package,
// checks its MD5, stages the new bundle and hands the swap to a script that
// runs once the application has quit.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include <sys/types.h>

#include <QObject>

#include "updater/swap_script.h"
#include "updater/update_error.h"
#include "updater/update_manifest.h"
#include "updater/update_phase.h"

namespace corvane {

struct CurlResult;
class PackageDownload;

class Updater : public QObject {
    Q_OBJECT

public:
    struct Options {
        std::string version;                   // the running version; Cfg::version() when empty
        std::filesystem::path logFolder;       // where boot.log lies; Cfg::appSupport() when empty
        std::string platformKey = "linux";     // the "files" entry for this build
        std::string builtInManifestURL = "https://updates.corvane.app/corvane/update.json";
        long timeoutSeconds = 12;
        long downloadIdleSeconds = 60;         // a package download that moves no byte for this long fails

        // Installing: the running program (/proc/self/exe), the package cache
        // ($XDG_CACHE_HOME/CorvaneUpdate), the temporary folder ($TMPDIR or /tmp)
        // and the process the swap script ends (this one) when left empty.
        std::filesystem::path executable{};
        std::filesystem::path cacheFolder{};
        std::filesystem::path tempFolder{};
        pid_t pid = 0;
        // Opens the download page (xdg-open), starts the swap script detached,
        // and ends the application once the script runs (quit 0.2 s later, _exit 3.2 s later).
        std::function<void(const std::string& url)> openURL{};
        std::function<std::optional<UpdateError>(const SwapLaunch&)> startSwap{};
        std::function<void()> quitForSwap{};
    };

    Updater();
    explicit Updater(Options options, QObject* parent = nullptr);

    // The one updater of the process, made on first use (on the main thread).
    static Updater& shared();
    // "CORVANE_MANIFEST" when it is set and reads as an absolute URL, else the built-in address.
    static std::string manifestURL(const std::string& builtIn);
    // The download page for a manual update.
    static const std::string& pageURL();

    // Fetches the manifest unless a check or an install is under way; returns at once.
    void check(bool silent);
    // Downloads, verifies and stages the package found by the last check (phase available only).
    void install();
    // Stops a download under way; the phase goes back to available.
    void cancel();

    const UpdatePhase& phase() const { return phase_; }
    const std::string& latest() const { return latest_; }
    const std::vector<std::string>& notes() const { return notes_; }
    const std::optional<UpdateEntry>& entry() const { return entry_; }
    const std::string& expectedMD5() const { return expectedMD5_; }

Q_SIGNALS:
    void phaseChanged();
    void latestChanged();
    void notesChanged();

protected:
    void setPhase(UpdatePhase phase);
    // Checks the saved package's digest and, when it matches, stages it on a worker thread.
    void verifyAndInstall(const std::filesystem::path& zip);

private:
    void finishCheck(bool silent, const std::string& url, const CurlResult& result);
    void downloadProgress(const std::shared_ptr<PackageDownload>& task, int64_t written, int64_t total);
    void downloadFinished(const std::shared_ptr<PackageDownload>& task, bool ok, const std::string& error);
    void savePackage(const std::filesystem::path& downloaded);
    void log(const std::string& line) const;
    // Fills the install options left empty with the process's own.
    static void completeInstallOptions(Options& options);

    Options options_;
    UpdatePhase phase_;
    std::string latest_;
    std::vector<std::string> notes_;
    std::optional<UpdateEntry> entry_;
    std::string expectedMD5_;
    std::string packageName_;  // "Corvane-<latest>.zip" of the install under way
    std::shared_ptr<PackageDownload> download_;
};

}  // namespace corvane
