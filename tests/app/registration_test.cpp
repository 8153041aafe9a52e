// Registration as the handler of ".H64" files in the user's freedesktop folders: the entry texts,
// the edit of the default-application list, and what a real start of the player leaves behind.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <unistd.h>

#include "app/shell_registration.h"
#include "tests/app/qt_test_app.h"

namespace kestrel::app {
namespace {

TEST(DesktopExecArgument, QuotesAndEscapesOnlyWhatTheFormatNeeds) {
    struct Row {
        const char* path;
        const char* written;  // as it stands in the file
    };
    const Row rows[] = {
        {"/usr/bin/kestrel-player", "/usr/bin/kestrel-player"},
        {"/opt/My Player/kestrel-player", "\"/opt/My Player/kestrel-player\""},
        {"/opt/a$b\"c`d/p", "\"/opt/a\\\\$b\\\\\"c\\\\`d/p\""},
        {"/opt/back\\slash/p", "\"/opt/back\\\\\\\\slash/p\""},
        {"/opt/100%/p", "/opt/100%%/p"},
        {"/opt/(x)/p", "\"/opt/(x)/p\""},
    };
    for (const Row& r : rows) EXPECT_EQ(DesktopExecArgument(QString::fromUtf8(r.path)), QString::fromUtf8(r.written)) << r.path;
}

TEST(WithDefaultApplication, SetsOurEntryAndKeepsEveryOtherLine) {
    struct Row {
        const char* before;
        const char* after;
    };
    const Row rows[] = {
        {"", "[Default Applications]\nvideo/x-h64=kestrel-player.desktop;\n"},
        {"[Added Associations]\ntext/plain=gedit.desktop;\n",
         "[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\nvideo/x-h64=kestrel-player.desktop;\n"},
        {"# mine\n[Default Applications]\ntext/html=firefox.desktop\n\n[Added Associations]\nimage/png=gimp.desktop;\n",
         "# mine\n[Default Applications]\ntext/html=firefox.desktop\nvideo/x-h64=kestrel-player.desktop;\n\n"
         "[Added Associations]\nimage/png=gimp.desktop;\n"},
        {"[Default Applications]\nvideo/x-h64=other.desktop;\ntext/html=firefox.desktop\nvideo/x-h64=third.desktop\n",
         "[Default Applications]\nvideo/x-h64=kestrel-player.desktop;\ntext/html=firefox.desktop\n"},
        {"[Default Applications]\nvideo/x-h64=kestrel-player.desktop;\n",
         "[Default Applications]\nvideo/x-h64=kestrel-player.desktop;\n"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(WithDefaultApplication(r.before, "video/x-h64", "kestrel-player.desktop").toStdString(), r.after)
            << r.before;
}

QString ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

bool WaitFor(const std::function<bool()>& done, int ms = 15000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QTest::qWait(50);
    }
    return true;
}

// Starts the player (no file), waits until its registration and the database tools are done,
// and ends it.
void StartPlayerOnce(const QString& program, const XdgFolders& xdg) {
    const QString desktop = xdg.dataHome + "/applications/" + kDesktopFileName;
    QFile::remove(desktop);
    QProcess player;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("SDL_AUDIODRIVER", "dummy");
    player.setProcessEnvironment(env);
    player.start(program, {});
    ASSERT_TRUE(player.waitForStarted()) << program.toStdString();
    const bool registered = WaitFor([&] {
        return ReadAll(desktop).contains(program) && ReadAll(xdg.configHome + "/mimeapps.list").contains("x-h64") &&
               ReadAll(xdg.dataHome + "/mime/globs2").contains("video/x-h64");
    });
    player.kill();
    player.waitForFinished();
    ASSERT_TRUE(registered) << "no registration by " << program.toStdString();
}

TEST(Registration, AStartRegistersThePlayerAsTheHandlerOfH64) {
    testing::QtApp();
    const XdgFolders xdg = UserXdgFolders();
    ASSERT_TRUE(xdg.dataHome.startsWith(QDir::tempPath())) << "the test must not touch the real desktop";
    QDir().mkpath(xdg.configHome);
    {
        QFile list(xdg.configHome + "/mimeapps.list");
        ASSERT_TRUE(list.open(QIODevice::WriteOnly));
        list.write("[Default Applications]\ntext/html=firefox.desktop\n");
    }

    // First from a folder whose name has a space, then from the build: the later start wins.
    const QString spaced = QString(KESTREL_TEST_SCRATCH) + "/with space";
    QDir(spaced).removeRecursively();
    QDir().mkpath(spaced);
    const QString copy = spaced + "/kestrel-player";
    if (::link(KESTREL_PLAYER, copy.toLocal8Bit().constData()) != 0) {
        ASSERT_TRUE(QFile::copy(KESTREL_PLAYER, copy));
    }
    StartPlayerOnce(copy, xdg);
    const QString desktopPath = xdg.dataHome + "/applications/" + kDesktopFileName;
    EXPECT_TRUE(ReadAll(desktopPath).contains("\nExec=\"" + copy + "\" %f\n")) << ReadAll(desktopPath).toStdString();
    StartPlayerOnce(KESTREL_PLAYER, xdg);
    QDir(spaced).removeRecursively();

    const QString desktop = ReadAll(desktopPath);
    EXPECT_TRUE(desktop.contains(QString("\nExec=") + KESTREL_PLAYER + " %f\n")) << desktop.toStdString();
    EXPECT_TRUE(desktop.contains("\nMimeType=video/x-h64;\n"));
    const QString list = ReadAll(xdg.configHome + "/mimeapps.list");
    EXPECT_EQ(list.count("video/x-h64="), 1) << list.toStdString();
    EXPECT_TRUE(list.contains("text/html=firefox.desktop"));

    if (const QString validate = QStandardPaths::findExecutable("desktop-file-validate"); !validate.isEmpty()) {
        QProcess v;
        v.start(validate, {desktopPath});
        ASSERT_TRUE(v.waitForFinished());
        EXPECT_EQ(v.exitCode(), 0) << v.readAllStandardOutput().toStdString();
    }

    // What the desktop asks: the default handler, and the type of a file by its name.
    const QString xdgMime = QStandardPaths::findExecutable("xdg-mime");
    if (xdgMime.isEmpty()) {
        ADD_FAILURE() << "xdg-mime is not installed (package xdg-utils): the default handler cannot be asked";
    } else {
        QProcess q;
        q.start(xdgMime, {"query", "default", "video/x-h64"});
        ASSERT_TRUE(q.waitForFinished());
        EXPECT_EQ(QString::fromUtf8(q.readAllStandardOutput()).trimmed(), kDesktopFileName);
    }
    const QString globs = ReadAll(xdg.dataHome + "/mime/globs2");
    EXPECT_TRUE(globs.contains("video/x-h64:*.h64\n")) << globs.toStdString();  // no ":cs": any case
    QMimeDatabase db;
    for (const char* name : {"a.H64", "a.h64", "Camera 01.H64"})
        EXPECT_EQ(db.mimeTypeForFile(name, QMimeDatabase::MatchExtension).name(), "video/x-h64") << name;
    EXPECT_NE(db.mimeTypeForFile("a.h264", QMimeDatabase::MatchExtension).name(), "video/x-h64");
}

}  // namespace
}  // namespace kestrel::app
