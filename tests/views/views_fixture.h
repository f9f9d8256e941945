#pragma once
// AppState for view tests: built with fakes (sandbox folders, a fixed host,
// recording openers), never started, so nothing listens or broadcasts.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/defaults_store.h"
#include "support/qt_wait.h"
#include "support/test_support.h"

namespace corvane::test {

// The alerts shown inside a widget while it lives, read as a screen reader reads them: the
// names asked for only after everything was told, so an alert renamed in between is heard
// by its last name. A reader hears an alert as it shows.
class TellsHeard : public QObject {
public:
    explicit TellsHeard(const QWidget& within) : within_(within) { qApp->installEventFilter(this); }
    ~TellsHeard() override { qApp->removeEventFilter(this); }

    // The names of the alerts shown, in the order shown.
    QStringList alerts() const {
        QStringList names;
        for (const QAccessible::Id id : shown_) {
            QAccessibleInterface* alert = QAccessible::accessibleInterface(id);
            names << (alert && alert->isValid() ? alert->text(QAccessible::Name) : QStringLiteral("(gone)"));
        }
        return names;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (event->type() != QEvent::Show || widget == nullptr || !within_.isAncestorOf(widget)) return false;
        QAccessibleInterface* shown = QAccessible::queryAccessibleInterface(widget);
        if (shown && shown->role() == QAccessible::AlertMessage) shown_.push_back(QAccessible::uniqueId(shown));
        return false;
    }

private:
    const QWidget& within_;
    std::vector<QAccessible::Id> shown_;
};

// A device on the network as the peer list shows it.
inline Peer viewPeer(const std::string& id, const std::string& name, const std::string& team = "",
                     const std::string& ip = "192.168.1.20", int port = 8899) {
    Peer peer;
    peer.id = id;
    peer.name = peer.realName = name;
    peer.ip = ip;
    peer.port = port;
    peer.plat = "darwin";
    peer.team = team;
    return peer;
}

inline std::string repeatedText(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

// How text gets into a field: key by key, committed by an input method, pasted.
enum class Entry { typed, composed, pasted };

inline void enterText(QWidget* field, const QString& text, Entry how) {
    if (how == Entry::typed) {
        for (const QChar c : text) QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
        return;
    }
    if (how == Entry::composed) {
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QApplication::sendEvent(field, &commit);
        return;
    }
    QApplication::clipboard()->setText(text);
    QTest::keySequence(field, QKeySequence::Paste);
}

// Texts that a plain-text editor is tempted to change (a no-break space, U+2028, U+2029 and,
// from an input method or the clipboard, carriage returns), with the way each comes in.
inline std::vector<std::pair<Entry, QString>> untouchableTexts() {
    return {{Entry::typed, QString::fromUtf8("a\u00a0b\u2028c\u2029d")},
            {Entry::composed, QString::fromUtf8("一\u2029二\r\n三\r四\u00a0五")},
            {Entry::pasted, QString::fromUtf8("x\u00a0y\u2028z\u2029w\r\nv\rend")}};
}

class ViewsTest : public testing::Test {
protected:
    ViewsTest() {
        AppEnvironment env;
        env.home = box / "home";
        env.appSupport = box / "support";
        env.defaults = std::make_shared<DefaultsStore>(box / "defaults.json");
        env.hostname = [] { return std::string("desk"); };
        env.openURL = [this](const std::string& url) {
            openedURLs.push_back(url);
            return true;
        };
        env.reveal = [this](const std::filesystem::path& path) { revealed.push_back(path); };
        env.openPath = [this](const std::filesystem::path& path) {
            openedPaths.push_back(path);
            return true;
        };
        // Questions are recorded and never answered.
        env.askText = [this](const TextQuestion& question, std::function<void(std::optional<std::string>)>) {
            asked.push_back(question);
        };
        state = std::make_unique<AppState>(env);
        state->setShowWelcome(false);  // no config.json: it would start raised
    }

    // Lets queued work (the sheet host's pass, deferred deletes) run.
    static void settle() {
        qtSpin(std::chrono::milliseconds(5));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The child widget of that object name, or a failed assertion.
    template <typename Widget>
    static Widget* child(const QObject& parent, const char* name) {
        auto* found = parent.findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    Sandbox box;
    std::vector<std::string> openedURLs;
    std::vector<std::filesystem::path> revealed;
    std::vector<std::filesystem::path> openedPaths;
    std::vector<TextQuestion> asked;
    std::unique_ptr<AppState> state;
};

}  // namespace corvane::test
