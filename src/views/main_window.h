#pragma once
// The main window: titled "Corvane", the content view (1040 x 720 at first,
// at least 880 x 600) below the menu bar, centered unless a frame was saved
// under "CorvaneMainWindow" in the user defaults; either way wholly on a
// screen, shrunk to fit one as far as the minimum allows. Under a window
// manager the whole frame, title bar included, is fitted so once the window
// manager has framed the window. Return or Enter presses the focused button, as
// Space does (and as in every dialog).

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
    // Fits the whole frame round the window onto the screen it overlaps most, shrinking the
    // window as far as its minimum allows; nothing while it has no frame or fills the screen.
    void fitFrame();
    // Stores the window's frame under "CorvaneMainWindow".
    void saveFrame() const;

    // The saved frame as "x y w h", or none when the text does not hold four whole numbers
    // or the size is below the minimum.
    static std::optional<QRect> parseFrame(const std::string& text, const QSize& minimum);
    static std::string frameText(const QRect& frame);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    DefaultsStore& defaults_;
    ContentView* content_ = nullptr;
};

}  // namespace corvane
