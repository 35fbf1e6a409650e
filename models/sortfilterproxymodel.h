#ifndef SORTFILTERPROXYMODEL_H
#define SORTFILTERPROXYMODEL_H

#include <QByteArray>
#include <QCollator>
#include <QJSValue>
#include <QSortFilterProxyModel>

// A sort and filter proxy that QML configures by role name; all state stays in the base class.
//
// Rows sort in the order people read them rather than by character codes: by the user's locale,
// with the proxy's sort case sensitivity, and runs of digits as numbers. So addresses sort by
// their numbers (.9 < .10 < .100, an address before a name), versions by their numeric parts
// (2.9.0 < 2.10.0 < 10.0.1, 2.10 < 2.10.0 < 2.10.0-beta < 2.10.1, an empty one first, 10.0 <
// v2.0), and names as people expect ("Cam 9" < "Cam 10"). The role named "mac" sorts as text:
// hexadecimal digits are no numbers (02-06 < 08-EA < 0C-8C < D0-C8).
class SortFilterProxyModel : public QSortFilterProxyModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(QObject *source READ source WRITE setSource)
    Q_PROPERTY(QByteArray sortRole READ sortRole WRITE setSortRole)
    Q_PROPERTY(Qt::SortOrder sortOrder READ sortOrder WRITE setSortOrder)
    Q_PROPERTY(QByteArray filterRole READ filterRole WRITE setFilterRole)
    Q_PROPERTY(QString filterString READ filterString WRITE setFilterString)
    Q_PROPERTY(FilterSyntax filterSyntax READ filterSyntax WRITE setFilterSyntax)

public:
    enum FilterSyntax {
        RegExp = QRegExp::RegExp,
        Wildcard = QRegExp::Wildcard,
        FixedString = QRegExp::FixedString
    };
    Q_ENUM(FilterSyntax)

    explicit SortFilterProxyModel(QObject *parent = nullptr);
    ~SortFilterProxyModel() override;

    int count() const;
    QObject *source() const;
    void setSource(QObject *source);
    QByteArray sortRole() const;
    void setSortRole(const QByteArray &role);
    void setSortOrder(Qt::SortOrder order);
    QByteArray filterRole() const;
    void setFilterRole(const QByteArray &role);
    QString filterString() const;
    void setFilterString(const QString &filter);
    FilterSyntax filterSyntax() const;
    void setFilterSyntax(FilterSyntax syntax);

    Q_INVOKABLE QJSValue get(int index) const;

    QHash<int, QByteArray> roleNames() const override;

signals:
    void countChanged();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    int roleNumberOf(const QByteArray &name) const;

    // Follow the sort case sensitivity, which the base class sorts with before it says so.
    mutable QCollator m_collator;
    mutable QCollator m_hexCollator;
};

#endif // SORTFILTERPROXYMODEL_H
