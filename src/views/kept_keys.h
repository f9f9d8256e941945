#pragma once
// A button disabled while its work runs ("提交" while it sends, "检查更新" while it checks)
// would hand its keys to the next control, and a screen reader would name that control as
// though the person had moved. Disabled through this, the button leaves the keys with
// nothing in its window instead, and takes them back once it is enabled again, unless they
// went somewhere else meanwhile or the button is no longer shown.

class QPushButton;

namespace corvane {

class KeptKeys {
public:
    explicit KeptKeys(QPushButton* button) : button_(button) {}

    void setEnabled(bool enabled);

private:
    QPushButton* button_;
    bool held_ = false;
};

}  // namespace corvane
