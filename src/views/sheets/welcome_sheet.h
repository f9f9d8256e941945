#pragma once
// The first-run welcome: two cards, point-to-point ("lan") and team mode
// ("team"), and "稍后再说", which chooses point-to-point. It closes only through
// its three buttons, each calling AppState::finishWelcome; Return, Escape and
// the window's close do nothing. It opens with no button holding the keys (the
// sheet itself has them), so a key pressed at once chooses nothing; Tab goes to
// the buttons in their order, and Return or Space presses the focused one. The
// application's quit still closes it (a window refusing to close would cancel the quit).

#include <QStringList>

#include "views/sheet.h"

class QCloseEvent;

namespace corvane {

class AppState;

// What one mode card shows and does.
struct WelcomeCard {
    const char* icon;
    Tint color;
    QString title;
    QString tag;
    QStringList lines;
    QString action;
    const char* objectName;
    const char* mode;  // passed to finishWelcome
};

class WelcomeSheet : public Sheet {
    Q_OBJECT

public:
    static constexpr int cardMinHeight = 196;

    WelcomeSheet(AppState& state, QWidget* parent);

    // One mode card; its button calls finishWelcome with the card's mode.
    QWidget* card(const WelcomeCard& choice);

public Q_SLOTS:
    void reject() override {}  // no way out but the three buttons

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    AppState& state_;
    bool quitting_ = false;
};

}  // namespace corvane
