#include "modelpresence.h"

#include "modelpresencelist.h"
#include "processrefs.h"

ModelPresence::ModelPresence(QObject *parent)
    : QAbstractListModel(parent)
    , m_list(new ModelPresenceList(this))
{
    ProcessRefs::setCurrentPresenceList(m_list);
    followList();
}

void ModelPresence::followList()
{
    // The model is the context of every connection, so they die with it.
    connect(m_list, &ModelPresenceList::preItemAppend, this, [this] {
        const int row = m_list->items().size();
        beginInsertRows(QModelIndex(), row, row);
    });
    connect(m_list, &ModelPresenceList::postItemAppend, this, [this] { endInsertRows(); });
    connect(m_list, &ModelPresenceList::preItemDeleteAll, this, [this] { beginResetModel(); });
    connect(m_list, &ModelPresenceList::postItemDeleteAll, this, [this] { endResetModel(); });
}

int ModelPresence::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() || !m_list)
        return 0;
    return m_list->items().size();
}

QVariant ModelPresence::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !m_list)
        return QVariant();
    const QVector<ModelPresenceItem> items = m_list->items();
    const int row = index.row();
    if (row < 0 || row >= items.size())
        return QVariant();
    const ModelPresenceItem &item = items.at(row);
    switch (role) {
    case EmpIdRole: return item.idEmp;
    case LastNameRole: return item.lastName;
    case FirstNameRole: return item.firstName;
    case LastActDTRole: return item.lastActDT;
    case LastActDT2Role: return item.lastActDT2;
    case OldRegRole: return item.old;
    case LastActDescRole: return item.lastActDesc;
    case DepartmentRole: return item.department;
    case PictureRole: return item.picture;
    case PresenceRole: return item.presence;
    case ColorRole: return item.actColor;
    default: return QVariant();
    }
}

QHash<int, QByteArray> ModelPresence::roleNames() const
{
    return {
        {EmpIdRole, "modelEmpId"},
        {LastNameRole, "modelLastName"},
        {FirstNameRole, "modelFirstName"},
        {LastActDTRole, "modelLastActDT"},
        {LastActDT2Role, "modelLastActDT2"},
        {OldRegRole, "modelOldReg"},
        {LastActDescRole, "modelLastActDesc"},
        {DepartmentRole, "modelDepartment"},
        {PictureRole, "modelPicture"},
        {PresenceRole, "modelPresence"},
        {ColorRole, "modelColor"},
    };
}

ModelPresenceList *ModelPresence::list() const
{
    return m_list;
}
