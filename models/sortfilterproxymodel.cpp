#include "sortfilterproxymodel.h"

#include <QQmlEngine>

namespace {

// Under the C locale Qt's collator compares character codes and ignores numeric mode (10 before
// 9, É after Z). Someone whose session runs with LANG=C still reads 9 before 10: the table then
// sorts as in English.
QLocale collationLocale()
{
    const QLocale locale;
    return locale.language() == QLocale::C ? QLocale(QLocale::English) : locale;
}

} // namespace

SortFilterProxyModel::SortFilterProxyModel(QObject *parent)
    : QSortFilterProxyModel(parent), m_collator(collationLocale()), m_hexCollator(collationLocale())
{
    m_collator.setNumericMode(true);
    connect(this, SIGNAL(rowsInserted(QModelIndex, int, int)), this, SIGNAL(countChanged()));
    connect(this, SIGNAL(rowsRemoved(QModelIndex, int, int)), this, SIGNAL(countChanged()));
}

SortFilterProxyModel::~SortFilterProxyModel() = default;

int SortFilterProxyModel::count() const
{
    return rowCount();
}

QObject *SortFilterProxyModel::source() const
{
    return sourceModel();
}

void SortFilterProxyModel::setSource(QObject *source)
{
    setSourceModel(qobject_cast<QAbstractItemModel *>(source));
}

QByteArray SortFilterProxyModel::sortRole() const
{
    return roleNames().value(QSortFilterProxyModel::sortRole());
}

void SortFilterProxyModel::setSortRole(const QByteArray &role)
{
    QSortFilterProxyModel::setSortRole(roleNumberOf(role));
}

void SortFilterProxyModel::setSortOrder(Qt::SortOrder order)
{
    sort(0, order);
}

QByteArray SortFilterProxyModel::filterRole() const
{
    return roleNames().value(QSortFilterProxyModel::filterRole());
}

void SortFilterProxyModel::setFilterRole(const QByteArray &role)
{
    QSortFilterProxyModel::setFilterRole(roleNumberOf(role));
}

QString SortFilterProxyModel::filterString() const
{
    return filterRegExp().pattern();
}

void SortFilterProxyModel::setFilterString(const QString &filter)
{
    setFilterRegExp(QRegExp(filter, filterCaseSensitivity(),
                            static_cast<QRegExp::PatternSyntax>(filterSyntax())));
}

SortFilterProxyModel::FilterSyntax SortFilterProxyModel::filterSyntax() const
{
    return static_cast<FilterSyntax>(filterRegExp().patternSyntax());
}

void SortFilterProxyModel::setFilterSyntax(FilterSyntax syntax)
{
    setFilterRegExp(QRegExp(filterString(), filterCaseSensitivity(),
                            static_cast<QRegExp::PatternSyntax>(syntax)));
}

QJSValue SortFilterProxyModel::get(int idx) const
{
    QJSEngine *engine = qmlEngine(this);
    if (!engine) {
        // Only proxies created by a QML engine can build script objects.
        return QJSValue();
    }
    QJSValue value = engine->newObject();
    if (idx >= 0 && idx < count()) {
        const QHash<int, QByteArray> roles = roleNames();
        for (auto it = roles.cbegin(); it != roles.cend(); ++it) {
            value.setProperty(QString::fromUtf8(it.value()),
                              data(index(idx, 0), it.key()).toString());
        }
    }
    return value;
}

QHash<int, QByteArray> SortFilterProxyModel::roleNames() const
{
    if (QAbstractItemModel *source = sourceModel()) {
        return source->roleNames();
    }
    return {};
}

bool SortFilterProxyModel::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    const QRegExp expression = filterRegExp();
    if (expression.pattern().isEmpty()) {
        return true;
    }
    QAbstractItemModel *model = sourceModel();
    const QByteArray role = filterRole();
    if (!role.isEmpty()) {
        const QModelIndex sourceIndex = model->index(sourceRow, 0, sourceParent);
        if (!sourceIndex.isValid()) {
            return true;
        }
        const QString text = model->data(sourceIndex, roleNumberOf(role)).toString();
        return text.indexOf(expression) != -1;
    }
    const QHash<int, QByteArray> roles = roleNames();
    for (auto it = roles.cbegin(); it != roles.cend(); ++it) {
        const QString text
            = model->data(model->index(sourceRow, 0, sourceParent), it.key()).toString();
        if (text.indexOf(expression) != -1) {
            return true;
        }
    }
    return false;
}

bool SortFilterProxyModel::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    if (m_collator.caseSensitivity() != sortCaseSensitivity()) {
        m_collator.setCaseSensitivity(sortCaseSensitivity());
        m_hexCollator.setCaseSensitivity(sortCaseSensitivity());
    }
    // A MAC address is hexadecimal: its runs of digits are no numbers (02 would sort after 0C).
    const QCollator &collator = sortRole() == "mac" ? m_hexCollator : m_collator;
    const int role = QSortFilterProxyModel::sortRole();
    return collator.compare(left.data(role).toString(), right.data(role).toString()) < 0;
}

int SortFilterProxyModel::roleNumberOf(const QByteArray &name) const
{
    const QHash<int, QByteArray> roles = roleNames();
    for (auto it = roles.cbegin(); it != roles.cend(); ++it) {
        if (it.value() == name) {
            return it.key();
        }
    }
    return -1;
}
