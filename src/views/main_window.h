#pragma once
// The main window: titled "Corvane", the content view (1040 x 720 at first,
// at least 880 x 600) below the menu bar, centered unless a frame was saved
// under "CorvaneMainWindow" in the user defaults; either way wholly on a
// screen, shrunk to fit one as far as the minimum allows.

#include <optional>
#include <string>

#include <QMainWindow>

namespace corvane {

class AppState;
class ContentView;
class DefaultsStore;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    MainWindow(AppState& state, DefaultsStore& defaults, QWidget* parent = nullptr);

    ContentView* contentView() const { return content_; }
    // Sizes the window for its content and menu bar, at the saved frame or centered, on a screen.
    void placeWindow();
    // Stores the window's frame under "CorvaneMainWindow".
    void saveFrame() const;

    // The saved frame as "x y w h", or none when the text does not hold four whole numbers
    // or the size is below the minimum.
    static std::optional<QRect> parseFrame(const std::string& text, const QSize& minimum);
    static std::string frameText(const QRect& frame);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    DefaultsStore& defaults_;
    ContentView* content_ = nullptr;
};

}  // namespace corvane
