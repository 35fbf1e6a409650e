#ifndef INTERFACEINVENTORY_H
#define INTERFACEINVENTORY_H

#include <QMap>
#include <QString>
#include <QStringList>

// The machine's IPv4 interface addresses with their netmasks, as dotted texts in text order.
class InterfaceInventory
{
public:
    // Rebuilds the inventory from the system's interfaces, 127.0.0.1 left out.
    void refresh();
    QStringList addresses() const { return m_netmasks.keys(); }
    bool contains(const QString &address) const { return m_netmasks.contains(address); }
    // The netmask of an address; empty when it has none or is not in the inventory.
    QString netmaskOf(const QString &address) const { return m_netmasks.value(address); }
    // An address whose netmask has at least four dotted parts: one a sweep can start from.
    bool hasUsableNetmask(const QString &address) const;
    void insert(const QString &address, const QString &netmask);

    // Four groups of one to three digits separated by dots, nothing around them.
    static bool hasAddressForm(const QString &text);

private:
    QMap<QString, QString> m_netmasks;
};

#endif // INTERFACEINVENTORY_H
