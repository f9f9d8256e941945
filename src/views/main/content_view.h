#pragma once
// The root view of the main window: the nearby-team strip (with its rule)
// above the split of device sidebar (252 px) and detail pane, the toast
// floating at the bottom, and the host of the eight sheets bound to AppState.
// It keeps no state of its own: what it shows follows AppState, and it
// updates its widgets in place on every change signal.

#include <QWidget>

namespace corvane {

class AppState;
class Rule;
class SheetHost;
class TeamBanner;
class ToastView;

class ContentView : public QWidget {
    Q_OBJECT

public:
    static constexpr int sidebarWidth = 252;

    explicit ContentView(AppState& state, QWidget* parent = nullptr);

    QSize sizeHint() const override;         // 1040 x 720
    QSize minimumSizeHint() const override;  // 880 x 600

    TeamBanner* banner() const { return banner_; }
    ToastView* toast() const { return toast_; }
    SheetHost* sheets() const { return sheets_; }
    // The slots the device sidebar and the detail pane fill.
    QWidget* sidebar() const { return sidebar_; }
    QWidget* detailPane() const { return detailPane_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void showBanner();
    void showToast();

    AppState& state_;
    TeamBanner* banner_ = nullptr;
    Rule* bannerRule_ = nullptr;
    QWidget* sidebar_ = nullptr;
    QWidget* detailPane_ = nullptr;
    ToastView* toast_ = nullptr;
    SheetHost* sheets_ = nullptr;
};

}  // namespace corvane
