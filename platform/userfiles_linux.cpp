#include "userfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace UserFiles {

bool makePrivateFolder(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray name = QFile::encodeName(path);
    return ::mkdir(name.constData(), 0700) == 0 || errno == EEXIST;
}

bool isTrusted(const QString &path)
{
    struct stat status = {};
    // lstat: a link is judged as itself first, then by what it points to.
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0) {
        return false;
    }
    const uid_t user = ::geteuid();
    if (!S_ISLNK(status.st_mode)) {
        return status.st_uid == user;
    }
    struct stat folder = {};
    const QByteArray folderName = QFile::encodeName(QFileInfo(path).absolutePath());
    if (::lstat(folderName.constData(), &folder) != 0 || !S_ISDIR(folder.st_mode)
        || (folder.st_uid != user && folder.st_uid != 0)
        || (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return false;
    }
    struct stat target = {};
    return ::stat(QFile::encodeName(path).constData(), &target) == 0 && target.st_uid == user;
}

} // namespace UserFiles
