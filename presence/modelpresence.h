#pragma once
// The read-only list model over one presence list: one row per record, one named role per
// field. An append to the list becomes one inserted row at the end; emptying it, a reset.
// QML never creates it directly: ModelPresenceFilter makes one as its source model.

#include <QAbstractListModel>
#include <QPointer>

class ModelPresenceList;

class ModelPresence : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Roles {
        EmpIdRole = Qt::UserRole,  // 256
        LastNameRole,
        FirstNameRole,
        LastActDTRole,
        LastActDT2Role,
        OldRegRole,
        LastActDescRole,
        DepartmentRole,
        PictureRole,
        PresenceRole,
        ColorRole,                 // 266
    };

    // Creates its own list and makes it the current presence list.
    explicit ModelPresence(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    // The list this model shows (a child of the model); nullptr only if it was deleted.
    ModelPresenceList *list() const;

private:
    void followList();

    QPointer<ModelPresenceList> m_list;
};
