#include "sortfilterproxymodel.h"

#include "base/ipv4text.h"

#include <QQmlEngine>

namespace {

bool isDigit(QChar c)
{
    // Other scripts' digits stay text: their numeric value is not what a version means.
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Where the run of digits, or of anything else, that starts at from ends.
int runEnd(const QString &text, int from)
{
    const bool digits = isDigit(text.at(from));
    int end = from + 1;
    while (end < text.size() && isDigit(text.at(end)) == digits) {
        ++end;
    }
    return end;
}

// Numbers of any length, so that a device cannot overflow the comparison.
int compareNumbers(QStringView left, QStringView right)
{
    while (left.size() > 1 && left.front() == QLatin1Char('0')) {
        left = left.mid(1);
    }
    while (right.size() > 1 && right.front() == QLatin1Char('0')) {
        right = right.mid(1);
    }
    if (left.size() != right.size()) {
        return left.size() < right.size() ? -1 : 1;
    }
    return left.compare(right);
}

} // namespace

SortFilterProxyModel::SortFilterProxyModel(QObject *parent)
    : QSortFilterProxyModel(parent), m_collator(QLocale())
{
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
    }
    const int roleNumber = QSortFilterProxyModel::sortRole();
    const QString leftText = left.data(roleNumber).toString();
    const QString rightText = right.data(roleNumber).toString();
    const QByteArray role = sortRole();
    if (role == "ip") {
        const std::optional<quint32> leftAddress = Ipv4Text::parse(leftText);
        const std::optional<quint32> rightAddress = Ipv4Text::parse(rightText);
        if (leftAddress && rightAddress) {
            return *leftAddress < *rightAddress;
        }
        if (leftAddress || rightAddress) {
            return bool(leftAddress);
        }
    } else if (role == "fw") {
        return compareVersions(leftText, rightText) < 0;
    }
    return m_collator.compare(leftText, rightText) < 0;
}

int SortFilterProxyModel::compareVersions(const QString &left, const QString &right) const
{
    int i = 0;
    int j = 0;
    while (i < left.size() && j < right.size()) {
        const bool digits = isDigit(left.at(i));
        if (digits != isDigit(right.at(j))) {
            return digits ? -1 : 1;
        }
        const int leftEnd = runEnd(left, i);
        const int rightEnd = runEnd(right, j);
        const QStringView leftRun = QStringView(left).mid(i, leftEnd - i);
        const QStringView rightRun = QStringView(right).mid(j, rightEnd - j);
        const int order
            = digits ? compareNumbers(leftRun, rightRun) : m_collator.compare(leftRun, rightRun);
        if (order != 0) {
            return order;
        }
        i = leftEnd;
        j = rightEnd;
    }
    return int(i < left.size()) - int(j < right.size());
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
