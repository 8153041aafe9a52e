#include "app/shell_registration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>

namespace kestrel::app {
namespace {

QString FolderFromEnv(const char* name, const char* fallbackUnderHome) {
    const QString value = qEnvironmentVariable(name);
    // Relative paths in these variables are invalid and must be ignored.
    if (!value.isEmpty() && QDir::isAbsolutePath(value)) return QDir::cleanPath(value);
    return QDir::homePath() + "/" + fallbackUnderHome;
}

QString StringValueEscape(const QString& s) {
    QString out;
    for (QChar c : s) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

// Writes `text` unless the file already holds exactly it; true when the file holds it afterwards.
bool WriteIfChanged(const QString& path, const QByteArray& text, bool* changed = nullptr) {
    if (changed) *changed = false;
    {
        QFile existing(path);
        if (existing.open(QIODevice::ReadOnly) && existing.readAll() == text) return true;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) return false;
    if (changed) *changed = true;
    return true;
}

void StartTool(const QString& name, const QStringList& arguments) {
    const QString tool = QStandardPaths::findExecutable(name);
    if (!tool.isEmpty()) QProcess::startDetached(tool, arguments);
}

}  // namespace

XdgFolders UserXdgFolders() {
    return {FolderFromEnv("XDG_DATA_HOME", ".local/share"), FolderFromEnv("XDG_CONFIG_HOME", ".config")};
}

QString DesktopExecArgument(const QString& programPath) {
    QString arg = programPath;
    arg.replace('%', "%%");  // a lone % would start a field code
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = false;
    for (QChar c : arg) quote = quote || reserved.contains(c);
    if (quote) {
        QString quoted = "\"";
        for (QChar c : arg) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
            quoted += c;
        }
        arg = quoted + "\"";
    }
    return StringValueEscape(arg);
}

QString DesktopEntryText(const QString& programPath) {
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Version=1.0\n"
               "Name=Kestrel\n"
               "GenericName=DVR H264/MPEG4 File Player\n"
               "GenericName[zh_CN]=DVR H264/MPEG4 文件播放器\n"
               "Comment=Plays the .H64 recordings of surveillance video recorders\n"
               "Comment[zh_CN]=播放监控硬盘录像机的 .H64 录像文件\n"
               "Exec=%1 %f\n"
               "Icon=kestrel-player\n"
               "Terminal=false\n"
               "Categories=AudioVideo;Video;Player;\n"
               "MimeType=%2;\n")
        .arg(DesktopExecArgument(programPath), QString::fromLatin1(kRecordingMimeType));
}

QString MimePackageText() {
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
               "  <mime-type type=\"%1\">\n"
               "    <comment>H264 File</comment>\n"
               "    <comment xml:lang=\"zh_CN\">H264 文件</comment>\n"
               "    <glob pattern=\"*.H64\"/>\n"
               "    <glob pattern=\"*.h64\"/>\n"
               "  </mime-type>\n"
               "</mime-info>\n")
        .arg(QString::fromLatin1(kRecordingMimeType));
}

QString WithDefaultApplication(const QString& mimeapps, const QString& mimeType, const QString& desktopId) {
    const QString section = "[Default Applications]";
    const QString entry = mimeType + "=" + desktopId + ";";
    QStringList lines = mimeapps.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();

    int sectionAt = -1;
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i].trimmed() == section) {
            sectionAt = i;
            break;
        }
    if (sectionAt < 0) {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty()) lines.append(QString());
        lines.append(section);
        lines.append(entry);
        return lines.join('\n') + "\n";
    }
    int end = sectionAt + 1;  // one past the section's last key line
    int insertAt = end;
    for (; end < lines.size() && !lines[end].trimmed().startsWith('['); ++end) {
        const QString key = lines[end].section('=', 0, 0).trimmed();
        if (!lines[end].trimmed().isEmpty()) insertAt = end + 1;
        if (key == mimeType && lines[end].contains('=')) {
            lines[end] = entry;
            // Later duplicates of the key would be ambiguous: drop them.
            for (int j = end + 1; j < lines.size() && !lines[j].trimmed().startsWith('[');)
                if (lines[j].section('=', 0, 0).trimmed() == mimeType && lines[j].contains('='))
                    lines.removeAt(j);
                else
                    ++j;
            return lines.join('\n') + "\n";
        }
    }
    lines.insert(insertAt, entry);
    return lines.join('\n') + "\n";
}

void RegisterFileType(const QString& programPath, const XdgFolders& folders) {
    const QString mimeDir = folders.dataHome + "/mime";
    bool packageChanged = false;
    const bool packageWritten =
        WriteIfChanged(mimeDir + "/packages/kestrel-h64.xml", MimePackageText().toUtf8(), &packageChanged);

    QFile icon(":/kestrel/icons/kestrel-player.svg");
    if (icon.open(QIODevice::ReadOnly))
        WriteIfChanged(folders.dataHome + "/icons/hicolor/scalable/apps/kestrel-player.svg", icon.readAll());

    const QString applications = folders.dataHome + "/applications";
    bool entryChanged = false;
    const bool entryWritten =
        WriteIfChanged(applications + "/" + kDesktopFileName, DesktopEntryText(programPath).toUtf8(), &entryChanged);

    if (entryWritten) {
        const QString listPath = folders.configHome + "/mimeapps.list";
        QString current;
        QFile list(listPath);
        const bool readable = list.open(QIODevice::ReadOnly);
        if (readable) current = QString::fromUtf8(list.readAll());
        list.close();
        // A list that exists but cannot be read must not be replaced by one line of ours.
        if (readable || !list.exists())
            WriteIfChanged(listPath, WithDefaultApplication(current, kRecordingMimeType, kDesktopFileName).toUtf8());
    }

    if (packageWritten && (packageChanged || !QFile::exists(mimeDir + "/mime.cache")))
        StartTool("update-mime-database", {mimeDir});
    if (entryWritten && (entryChanged || !QFile::exists(applications + "/mimeinfo.cache")))
        StartTool("update-desktop-database", {applications});
}

}  // namespace kestrel::app
