#ifndef USERFILES_H
#define USERFILES_H

#include <QString>

// What the program needs to know about files before it trusts them with a user's data.
namespace UserFiles {

// Files and folders this process creates from now on are private to the user (umask 077).
void keepNewFilesPrivate();
// True when path exists, is not a symbolic link, and belongs to the user running the
// program: nobody else can then replace it or read what is written through it.
bool isOwnedByUser(const QString &path);

} // namespace UserFiles

#endif // USERFILES_H
