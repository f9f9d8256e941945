#pragma once
// The self-updater as the interface sees it: the phase, the newest version and
// its release notes. A check fetches the manifest on a worker thread and
// publishes the outcome on the main thread.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <QObject>

#include "updater/update_manifest.h"
#include "updater/update_phase.h"

namespace corvane {

struct CurlResult;

class Updater : public QObject {
    Q_OBJECT

public:
    struct Options {
        std::string version;                   // the running version; Cfg::version() when empty
        std::filesystem::path logFolder;       // where boot.log lies; Cfg::appSupport() when empty
        std::string platformKey = "linux";     // the "files" entry for this build
        std::string builtInManifestURL = "https://updates.corvane.app/corvane/update.json";
        long timeoutSeconds = 12;
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
    // Installs the package found by the last check; for now it leaves the phase unchanged.
    void install();

    const UpdatePhase& phase() const { return phase_; }
    const std::string& latest() const { return latest_; }
    const std::vector<std::string>& notes() const { return notes_; }
    const std::optional<UpdateEntry>& entry() const { return entry_; }

Q_SIGNALS:
    void phaseChanged();
    void latestChanged();
    void notesChanged();

protected:
    void setPhase(UpdatePhase phase);

private:
    void finishCheck(bool silent, const std::string& url, const CurlResult& result);
    void log(const std::string& line) const;

    Options options_;
    UpdatePhase phase_;
    std::string latest_;
    std::vector<std::string> notes_;
    std::optional<UpdateEntry> entry_;
};

}  // namespace corvane
