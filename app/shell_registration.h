// Makes the player the handler of ".H64" recordings in the user's desktop, through the
// freedesktop.org shared MIME database, a desktop entry and the default-application list. Run
// at every start, so the entries name the program most recently started.
#pragma once

#include <QString>

namespace kestrel::app {

inline constexpr char kRecordingMimeType[] = "video/x-h64";
inline constexpr char kDesktopFileName[] = "kestrel-player.desktop";

struct XdgFolders {
    QString dataHome;    // $XDG_DATA_HOME, else ~/.local/share
    QString configHome;  // $XDG_CONFIG_HOME, else ~/.config
};
XdgFolders UserXdgFolders();

// The program path as one argument of a desktop entry's Exec line (quoted and escaped as that
// format wants, unchanged when nothing needs it).
QString DesktopExecArgument(const QString& programPath);
QString DesktopEntryText(const QString& programPath);
QString MimePackageText();
// `mimeapps` with `mimeType` made to default to `desktopId`; every other line is kept.
QString WithDefaultApplication(const QString& mimeapps, const QString& mimeType, const QString& desktopId);

// Writes the MIME package, the program's icon, its desktop entry and the default, then starts the
// database tools that are installed (without waiting for them). A folder that cannot be made
// skips what belongs in it; nothing is reported.
void RegisterFileType(const QString& programPath, const XdgFolders& folders);

}  // namespace kestrel::app
