#ifndef SETTINGSSTORE_H
#define SETTINGSSTORE_H

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>

class QSettings;

// settings.ini in the user's data folder. It may hold device accounts (user:password), so the
// folder and the file are the user's own and private, and neither is used when another user
// owns it or it is a symbolic link: the settings then live in memory for this run only.
class SettingsStore
{
public:
    enum class Access {
        ReadWrite, // the window's: the folder and the file are made, and values written through
        ReadOnly // the command line's: a file that is there is read; values set stay in memory
    };

    explicit SettingsStore(Access access = Access::ReadWrite);
    ~SettingsStore();

    QString folder() const { return m_folder; }
    // Why the file is not used, for the user; empty when it is, and when only reading, which
    // needs no file.
    QString problem() const { return m_problem; }
    // What the user is told when a value did not reach the file.
    QString problemText() const;

    // "true" and "false" come back as booleans, anything else as stored.
    QVariant value(const QString &key) const;
    // Stores and writes through at once; false when it did not reach the file.
    bool setValue(const QString &key, const QVariant &value);

    static QString accountKey(const QString &macAddress);
    static bool isAccountKey(const QString &key);

private:
    QString trustProblem() const;
    void restrictFile();

    QString m_folder;
    Access m_access;
    QString m_problem;
    std::unique_ptr<QSettings> m_settings;
    QVariantMap m_memory;
};

#endif // SETTINGSSTORE_H
