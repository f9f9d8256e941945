// The unattended "--update-now" run ends itself when the install fails: the
// watch reports the failed phase once, at once when already failed, and
// nothing for the other phases.
#include <gtest/gtest.h>

#include "app/install_failure_watch.h"
#include "support/test_support.h"
#include "updater/updater.h"

namespace corvane {
namespace {

// An updater whose phase the test sets, as a running install would.
class StagedUpdater : public Updater {
public:
    explicit StagedUpdater(const std::filesystem::path& logFolder) : Updater(Options{"1.0", logFolder}) {}
    using Updater::setPhase;
};

TEST(InstallFailureWatch, reportsTheFailedPhaseOnceAndIgnoresTheOthers) {
    test::Sandbox box;
    for (const bool failedBefore : {false, true}) {
        StagedUpdater updater(box.path());
        updater.setPhase(failedBefore ? UpdatePhase::failed("下载失败") : UpdatePhase::of(UpdatePhase::Kind::available));
        QObject context;
        std::vector<std::string> failures;
        watchInstallFailure(updater, &context, [&](const std::string& phase) { failures.push_back(phase); });
        for (const UpdatePhase& phase : {UpdatePhase::downloading(0.5), UpdatePhase::of(UpdatePhase::Kind::verifying),
                                         UpdatePhase::of(UpdatePhase::Kind::installing)}) {
            updater.setPhase(phase);
        }
        EXPECT_EQ(failures.size(), failedBefore ? 1u : 0u) << "failed before the watch: " << failedBefore;
        updater.setPhase(UpdatePhase::failed("校验失败"));
        updater.setPhase(UpdatePhase::failed("again"));
        EXPECT_EQ(failures[0], failedBefore ? "failed(\"下载失败\")" : "failed(\"校验失败\")") << failedBefore;
        EXPECT_EQ(failures.size(), 1u) << failedBefore;
    }
}

}  // namespace
}  // namespace corvane
