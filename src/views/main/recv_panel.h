#pragma once
// The receive panel at the bottom of the detail pane: "正在接收" and one row
// per incoming transfer (name, sender, percent and speed, or once finished
// "✓ " and the size). AppState republishes recvTasks every 0.8 s, equal or
// not: rows are kept by id and updated in place, and an equal list changes
// nothing. The panel is at most 148 px high and does not scroll: rows beyond
// that are clipped, so the file area above keeps its room.

#include <map>
#include <string>
#include <vector>

#include <QWidget>

#include "app/app_state.h"

class QLabel;

namespace corvane {

class ElidedLabel;
class PlainLabel;
class ProgressLine;
class SymbolLabel;

class RecvRow : public QWidget {
    Q_OBJECT

public:
    explicit RecvRow(QWidget* parent = nullptr);

    void setItem(const AppState::RecvItem& item);

    static bool finished(const AppState::RecvItem& item) { return item.state == "已完成"; }
    // "来自 " and the sender, or "局域网设备" for an unnamed one.
    static QString senderText(const AppState::RecvItem& item);
    // "✓ 1.50 KB" once finished, else "37% · 1.2 MB/s" (the percent not capped).
    static QString statusText(const AppState::RecvItem& item);

    QSize sizeHint() const override;

private:
    SymbolLabel* icon_ = nullptr;
    ElidedLabel* name_ = nullptr;
    PlainLabel* sender_ = nullptr;
    QLabel* status_ = nullptr;
    ProgressLine* bar_ = nullptr;
};

// Stacks its rows at their own height, top to bottom, and clips what does not fit.
class RecvRows : public QWidget {
    Q_OBJECT

public:
    explicit RecvRows(QWidget* parent = nullptr);

    void setRows(const std::vector<RecvRow*>& rows);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void place();

    std::vector<RecvRow*> rows_;
};

class RecvPanel : public QWidget {
    Q_OBJECT

public:
    static constexpr int maxHeight = 148;

    explicit RecvPanel(AppState& state, QWidget* parent = nullptr);

    // The row of that id, or null.
    RecvRow* row(const std::string& id) const;

private:
    void refresh();

    AppState& state_;
    RecvRows* area_ = nullptr;
    std::vector<AppState::RecvItem> shown_;
    std::map<std::string, RecvRow*> rows_;
};

}  // namespace corvane
