#pragma once
// The listed files of the shown target as rows of a list view. A row's
// display text is the file name; its accessible text holds the row's visible
// texts in reading order (name, folder, size, age); its tooltip is the path
// and what a double-click does, as plain text.

#include <vector>

#include <QAbstractListModel>

#include "engine/model.h"

namespace corvane {

class FileListModel : public QAbstractListModel {
    Q_OBJECT

public:
    explicit FileListModel(QObject* parent = nullptr);

    // A list with the same paths in the same order changes its rows in place;
    // any other list replaces all rows.
    void setFiles(std::vector<FileItem> files, bool remote);
    const FileItem& item(int row) const { return files_.at(size_t(row)); }
    bool remote() const { return remote_; }

    // The tooltip of a row: "path\n双击：…".
    static QString toolTip(const FileItem& item, bool remote);
    // The age column's text now.
    static QString age(const FileItem& item);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::vector<FileItem> files_;
    bool remote_ = false;
};

}  // namespace corvane
