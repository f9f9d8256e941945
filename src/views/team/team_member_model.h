#pragma once
// The accounts of one kind (applicants, members or disabled members) as rows of a
// list on a model, for the team panel's boxes. show() replaces the rows only when
// what they show changed, so a refresh that changed nothing leaves the list (and the
// row holding the keys) as it is. A row's accessible text is what it shows: the
// name, "管理员" for the administrator, and the second line. Rows of the same accounts
// in the same places change in place.

#include <set>
#include <string>
#include <vector>

#include <QAbstractListModel>
#include <nlohmann/json.hpp>

namespace corvane {

// A String field of an account's public dictionary, or the fallback.
std::string memberText(const nlohmann::json& user, const char* key, const std::string& fallback = "");
// How a member is called: the name, else the login, else the fallback.
std::string memberLabel(const nlohmann::json& user, const std::string& fallback);

class TeamMemberModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum class Kind { pending, active, blocked };
    // The second line a row shows under the name.
    static constexpr int detailRole = Qt::UserRole + 1;

    TeamMemberModel(Kind kind, QObject* parent = nullptr);

    Kind kind() const { return kind_; }
    // Shows the accounts of this kind among users, in their order; `resetting` holds the ids
    // whose temporary password is being made (their rows offer nothing meanwhile).
    void show(const std::vector<nlohmann::json>& users, const std::set<std::string>& resetting);
    const nlohmann::json& user(int row) const { return rows_.at(size_t(row)).user; }
    bool busy(int row) const { return rows_.at(size_t(row)).busy; }
    bool admin(int row) const;
    // The row of the account with that id, or -1.
    int rowOf(const std::string& id) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    struct Row {
        nlohmann::json user;
        bool busy = false;
        bool operator==(const Row&) const = default;
    };
    QString detail(const Row& row) const;

    Kind kind_;
    std::vector<Row> rows_;
};

}  // namespace corvane
