// Shell helpers: the few things the windows ask of the desktop, all routed
// through the replaceable interfaces of hooks.h.
#pragma once

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

class QWidget;

class QUrl;

// Paths are the file system's bytes everywhere in the program, also where
// they are not valid UTF-8. These are the only conversions to and from Qt's
// strings: FromPath is for showing a name (bytes that are no UTF-8 show as
// U+FFFD), ToPath for a name typed or chosen as text.
std::string ToPath(const QString& path);
QString FromPath(const std::string& path);
// A file name as text that reads like it and can be typed back: bytes that
// are no UTF-8 are written as \xNN.
QString EscapedName(const std::string& name);
// A file: URL that carries the path's exact bytes, percent-encoded, and back;
// "" for a URL that is not a local file.
QUrl PathToUrl(const std::string& path);
std::string UrlToPath(const QUrl& url);

// Shows the file selected in a file-manager window; says so in a message box
// owned by owner when there is no file manager.
void SelectInExplorer(QWidget* owner, const std::string& path);
// Opens a web page or a mail link with the desktop's default program.
bool OpenLink(const QString& target);
// Plays a sound file with the program the desktop has for its type; says so
// in a message box owned by owner when there is none.
void PlaySound(QWidget* owner, const std::string& path);
// Opens a movie with a program for Flash movies other than this one; says so
// in a message box owned by owner when there is none.
void PlayMovie(QWidget* owner, const std::string& path);

// Full paths chosen in a multi-selection open dialog that starts in
// startFolder; empty when cancelled.
std::vector<std::string> PromptOpenFileNames(QWidget* owner, const QString& filter, const std::string& startFolder);
// A save dialog starting at the name in path; true and the chosen name in path
// when the user chose one. A name chosen without an extension gets
// defaultSuffix, and when that names a file already there, the user is asked
// before it is replaced.
bool PromptSaveFileName(QWidget* owner, const QStringList& filters, std::string& path,
                        const QString& defaultSuffix = QString());

// A folder dialog opened on initialFolder, whose one trailing '/' is removed
// (the caller's string stays changed). True and the chosen folder, ending in
// '/', in result when the user chose one.
bool BrowseForFolder(QWidget* owner, const QString& title, std::string& initialFolder,
                     std::string& result);

// Follows a chain of symbolic links (the desktop's shortcuts) to the path it
// ends at. False for a path that is no link, a broken or too long chain.
bool ResolveShortcut(const std::string& link, std::string& target);
