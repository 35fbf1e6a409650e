#ifndef USERFILES_H
#define USERFILES_H

#include <QString>

// What the program needs to know about files before it trusts them with a user's data, and how
// it makes a private folder.
namespace UserFiles {

// Makes the folder, and its parents as needed with their usual modes; the folder itself is the
// user's alone from its first moment. True when it is there afterwards.
bool makePrivateFolder(const QString &path);
// True when what the user writes through path stays theirs: it belongs to the user and is no
// link, or it is a link that only the user (or root) can have put there, in a folder nobody else
// may write, to something the user owns. Dotfile managers link settings folders that way.
bool isTrusted(const QString &path);

} // namespace UserFiles

#endif // USERFILES_H
