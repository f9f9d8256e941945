#pragma once
// The band under the detail pane's header through which files and folders go
// to the current target: dropped on it, or picked with its two buttons. A
// drag is taken only when it carries at least one local file; while it hovers
// the frame turns to the accent colour (eased over 0.12 s) and the caption
// says where the files will go.

#include <filesystem>
#include <vector>

#include <QWidget>

class QLabel;
class QMimeData;
class QPushButton;
class QVariantAnimation;

namespace corvane {

class AppState;
class SymbolLabel;

class DropZone : public QWidget {
    Q_OBJECT

public:
    explicit DropZone(AppState& state, QWidget* parent = nullptr);

    bool targeted() const { return targeted_; }
    // 0 at rest, 1 fully in the accent look; follows targeted through the animation.
    double look() const { return look_; }
    QString caption() const;
    // The local files and folders a drag carries, in its order; other addresses are left out.
    static std::vector<std::filesystem::path> localItems(const QMimeData* data);
    // The framed band inside the zone's margins.
    QRect frameRect() const;
    QColor fillColor() const;
    QColor borderColor() const;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void setTargeted(bool on);
    void showTarget();

    AppState& state_;
    bool targeted_ = false;
    double look_ = 0;
    QVariantAnimation* animation_ = nullptr;
    SymbolLabel* icon_ = nullptr;
    QLabel* caption_ = nullptr;
};

}  // namespace corvane
