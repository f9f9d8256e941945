#include "updater/swap_script.h"

#include <cerrno>
#include <cstring>

#include <QProcess>
#include <QStringList>

#include "base/whole_files.h"

namespace fs = std::filesystem;

namespace corvane {

namespace {

// Signals go only to a process that still runs the old program (its executable
// inside APP or OLD): a recycled process id belongs to someone else, who is left
// alone while the script waits out its polls.
constexpr const char* kScript = R"(#!/bin/sh
APP="$1"
NEW="$2"
OLD="$3"
PID="$4"
is_old() {
  exe=$(readlink "/proc/$PID/exe" 2>/dev/null) || return 1
  case "$exe" in
    "$APP"/*|"$OLD"/*) return 0 ;;
  esac
  return 1
}
# The user's desktop entry of this bundle is written again from the bundle now in place,
# so it names APP (never the staged or the old folder) and shows the new name and icons.
refresh_entry() {
  entry="${XDG_DATA_HOME:-$HOME/.local/share}/applications/corvane.desktop"
  installer="$APP/share/corvane/desktop-entry.sh"
  [ -f "$entry" ] && [ -x "$installer" ] || return 0
  grep -qxF "TryExec=$APP/bin/corvane" "$entry" || return 0
  "$installer" "$APP/bin/corvane" </dev/null >/dev/null 2>&1
}
relaunch() {
  setsid "$APP/bin/corvane" </dev/null >/dev/null 2>&1 &
}
if is_old; then kill "$PID" 2>/dev/null; fi
n=0
while kill -0 "$PID" 2>/dev/null; do
  n=$((n + 1))
  if [ "$n" -ge 12 ] && is_old; then kill -9 "$PID" 2>/dev/null; fi
  if [ "$n" -gt 25 ]; then break; fi
  sleep 0.2
done
sleep 0.3
if mv "$APP" "$OLD" 2>/dev/null; then
  if mv "$NEW" "$APP" 2>/dev/null; then
    rm -rf "$OLD"
    refresh_entry
  else
    mv "$OLD" "$APP" 2>/dev/null
  fi
else
  rm -rf "$NEW"
fi
relaunch
rm -f "$0"
)";

QString qtext(const fs::path& path) { return QString::fromStdString(path.string()); }

}  // namespace

const std::string& swapScriptText() {
    static const std::string text = kScript;
    return text;
}

std::optional<UpdateError> writeSwapScript(const fs::path& path) {
    if (!writeWholeFile(path, swapScriptText())) return UpdateError{path.string() + ": " + std::strerror(errno)};
    std::error_code ec;
    fs::permissions(path, fs::perms(0755), fs::perm_options::replace, ec);
    if (ec) return UpdateError{path.string() + ": " + ec.message()};
    return std::nullopt;
}

std::optional<UpdateError> startSwapDetached(const SwapLaunch& launch) {
    QProcess process;
    // setsid(1) gives the script its own session; startDetached already leaves it without a parent to wait for it.
    process.setProgram(QStringLiteral("/usr/bin/setsid"));
    process.setArguments({QStringLiteral("/bin/sh"), qtext(launch.script), qtext(launch.app), qtext(launch.newBundle),
                          qtext(launch.oldBundle), QString::number(launch.pid)});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (!process.startDetached()) return UpdateError{process.errorString().toStdString()};
    return std::nullopt;
}

}  // namespace corvane
