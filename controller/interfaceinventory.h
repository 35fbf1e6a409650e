#ifndef INTERFACEINVENTORY_H
#define INTERFACEINVENTORY_H

#include <QMap>
#include <QString>
#include <QStringList>

// The machine's IPv4 interface addresses with their netmasks and interface names, as dotted
// texts in text order: what the window offers and a scan starts from.
class InterfaceInventory
{
public:
    // Rebuilds the inventory from the system's interfaces, 127.0.0.1 left out.
    void refresh();
    QStringList addresses() const { return m_entries.keys(); }
    bool contains(const QString &address) const { return m_entries.contains(address); }
    // The netmask of an address; empty when it has none or is not in the inventory.
    QString netmaskOf(const QString &address) const { return m_entries.value(address).netmask; }
    QString interfaceNameOf(const QString &address) const
    {
        return m_entries.value(address).interfaceName;
    }
    // The addresses of the interface of that name, in text order.
    QStringList addressesOf(const QString &interfaceName) const;
    // "198.18.0.1/24"; the address alone when its netmask is not a prefix.
    QString addressWithPrefix(const QString &address) const;
    // An address whose netmask has at least four dotted parts: one a sweep can start from.
    bool hasUsableNetmask(const QString &address) const;
    // An address the user typed, with a netmask assumed for it.
    void insert(const QString &address, const QString &netmask);

    // Four groups of one to three digits separated by dots, nothing around them.
    static bool hasAddressForm(const QString &text);
    // What the user is told of an address that is not (or no longer) this machine's.
    static QString unavailableMessage()
    {
        return QStringLiteral("The interface is not available!");
    }

private:
    struct Entry
    {
        QString netmask;
        QString interfaceName;
    };
    QMap<QString, Entry> m_entries;
};

#endif // INTERFACEINVENTORY_H
