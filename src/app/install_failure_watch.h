#pragma once
// For the unattended "--update-now" run: an install that ends in the failed
// phase leaves the application running with nobody to close it, so the run
// watches for that phase and ends itself.

#include <functional>
#include <string>

#include <QObject>

namespace corvane {

class Updater;

// Calls onFailed once, with the phase's text, when the updater's phase is or
// becomes failed; the watch ends with the context object.
void watchInstallFailure(Updater& updater, QObject* context, std::function<void(const std::string&)> onFailed);

}  // namespace corvane
