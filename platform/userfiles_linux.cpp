#include "userfiles.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace UserFiles {

void keepNewFilesPrivate()
{
    ::umask(077);
}

bool isOwnedByUser(const QString &path)
{
    struct stat status
    {
    };
    // lstat: a link is judged as itself, never by what it points to.
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && !S_ISLNK(status.st_mode)
        && status.st_uid == ::geteuid();
}

} // namespace UserFiles
