#include "settingsstore.h"

#include "platform/userfiles.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {

const QString kAccountPrefix = QStringLiteral("ACCOUNT/");
constexpr QFile::Permissions kOwnerOnlyFolder
    = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
constexpr QFile::Permissions kOwnerOnlyFile = QFile::ReadOwner | QFile::WriteOwner;

} // namespace

SettingsStore::SettingsStore(Access access)
    : m_folder(QStandardPaths::standardLocations(QStandardPaths::AppLocalDataLocation).value(0))
    , m_access(access)
{
    if (access == Access::ReadOnly) {
        // Nothing is made and nothing is said: a missing or untrusted file only means defaults.
        const QString file = QStringLiteral("%1/settings.ini").arg(m_folder);
        if (trustProblem().isEmpty() && QFileInfo(file).isFile()) {
            m_settings.reset(new QSettings(file, QSettings::IniFormat));
        }
        return;
    }
    // The folder is the user's alone before the first byte is written into it; the browser and
    // everything else this process starts keep the user's own umask.
    if (!m_folder.isEmpty() && !QFileInfo(m_folder).isDir()) {
        UserFiles::makePrivateFolder(m_folder);
    }
    m_problem = trustProblem();
    if (!m_problem.isEmpty()) {
        return;
    }
    QFile::setPermissions(m_folder, kOwnerOnlyFolder);
    m_settings.reset(
        new QSettings(QStringLiteral("%1/settings.ini").arg(m_folder), QSettings::IniFormat));
    restrictFile();
}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::trustProblem() const
{
    if (m_folder.isEmpty() || !QFileInfo(m_folder).isDir()) {
        return QStringLiteral("The settings folder %1 cannot be created.").arg(m_folder);
    }
    if (!UserFiles::isTrusted(m_folder)) {
        return QStringLiteral("The settings folder %1 belongs to another user or is a link "
                              "others could change.")
            .arg(m_folder);
    }
    const QString file = QStringLiteral("%1/settings.ini").arg(m_folder);
    const QFileInfo info(file);
    if ((info.exists() || info.isSymLink()) && (!UserFiles::isTrusted(file) || !info.isFile())) {
        return QStringLiteral("The settings file %1 belongs to another user or is not a plain "
                              "file.")
            .arg(file);
    }
    return QString();
}

void SettingsStore::restrictFile()
{
    // QSettings writes through a temporary file of the usual mode that it renames into place;
    // the private folder keeps it from others meanwhile, and the file gets its own mode back.
    QFile::setPermissions(m_settings->fileName(), kOwnerOnlyFile);
}

QVariant SettingsStore::value(const QString &key) const
{
    qDebug().noquote().nospace() << "[Controller::getSettingsValue], key = " << key;
    // What this run set comes first: without a file, or over the file only read.
    const QVariant value
        = m_memory.contains(key) || !m_settings ? m_memory.value(key) : m_settings->value(key);
    const QString text = value.toString();
    if (text == QLatin1String("false") || text == QLatin1String("true")) {
        return QVariant(value.toBool());
    }
    return value;
}

bool SettingsStore::setValue(const QString &key, const QVariant &value)
{
    // Accounts are user:password texts: the log shows that one was stored, never what.
    auto line = qDebug().noquote().nospace();
    line << "[Controller::setSettingsValue], key = " << key << ", value = ";
    if (isAccountKey(key)) {
        line << "<hidden>";
    } else {
        line << value;
    }
    if (!m_settings || m_access == Access::ReadOnly) {
        m_memory.insert(key, value);
        return false;
    }
    m_settings->setValue(key, value);
    m_settings->sync();
    restrictFile();
    return m_settings->status() == QSettings::NoError;
}

QString SettingsStore::problemText() const
{
    if (m_access == Access::ReadOnly) {
        return QStringLiteral("The command line changes no settings.");
    }
    return m_problem.isEmpty()
        ? QStringLiteral("The settings file cannot be written.")
        : m_problem + QStringLiteral(" Settings are kept for this run only.");
}

QString SettingsStore::accountKey(const QString &macAddress)
{
    return kAccountPrefix + macAddress;
}

bool SettingsStore::isAccountKey(const QString &key)
{
    return key.startsWith(kAccountPrefix, Qt::CaseInsensitive);
}
