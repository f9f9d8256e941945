#pragma once
// The root view of the main window. For now a plain overview of this device
// (name, port, addresses) with the toast at the bottom; the device sidebar,
// file area and panels take its place later.

#include <QWidget>

class QLabel;

namespace corvane {

class AppState;

class ContentView : public QWidget {
    Q_OBJECT

public:
    explicit ContentView(AppState& state, QWidget* parent = nullptr);

    QSize sizeHint() const override;  // 1040 x 720
    QSize minimumSizeHint() const override;  // 880 x 600

private:
    void showDevice();
    void showToast();

    AppState& state_;
    QLabel* deviceLabel_ = nullptr;
    QLabel* addressLabel_ = nullptr;
    QLabel* toastLabel_ = nullptr;
};

}  // namespace corvane
