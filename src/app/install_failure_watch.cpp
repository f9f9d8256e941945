#include "app/install_failure_watch.h"

#include <memory>

#include "updater/updater.h"

namespace corvane {

void watchInstallFailure(Updater& updater, QObject* context, std::function<void(const std::string&)> onFailed) {
    auto connection = std::make_shared<QMetaObject::Connection>();
    auto fired = std::make_shared<bool>(false);
    const auto check = [&updater, connection, fired, onFailed = std::move(onFailed)] {
        if (*fired || updater.phase().kind != UpdatePhase::Kind::failed) return;
        *fired = true;
        QObject::disconnect(*connection);
        onFailed(updater.phase().text());
    };
    *connection = QObject::connect(&updater, &Updater::phaseChanged, context, check);
    check();  // an install may fail before it returns
}

}  // namespace corvane
