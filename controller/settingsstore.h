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
    SettingsStore();
    ~SettingsStore();

    QString folder() const { return m_folder; }
    // Why the file is not used, for the user; empty when it is.
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
    QString m_problem;
    std::unique_ptr<QSettings> m_settings;
    QVariantMap m_memory;
};

#endif // SETTINGSSTORE_H
