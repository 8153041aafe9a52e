// The QApplication of a test program, made on first use, and the environment it needs: the
// user's XDG folders moved to a scratch place (the player registers itself at every start and
// must not touch the real desktop), and the Qt platform.
#pragma once

#include <QApplication>
#include <QDir>
#include <QString>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace kestrel::testing {

// `platform` is used unless QT_QPA_PLATFORM is set already.
inline QApplication& QtApp(const char* platform = "offscreen") {
    static QApplication* app = [platform] {
        setenv("QT_QPA_PLATFORM", platform, 0);
        const std::string home = QDir::tempPath().toStdString() + "/kestrel-app-test-" + std::to_string(getpid());
        QDir().mkpath(QString::fromStdString(home + "/data"));
        QDir().mkpath(QString::fromStdString(home + "/config"));
        QDir().mkpath(QString::fromStdString(home + "/runtime"));
        setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (home + "/runtime").c_str(), 0);
        chmod((home + "/runtime").c_str(), 0700);
        static int argc = 1;
        static char name[] = "kestrel-app-test";
        static char* argv[] = {name, nullptr};
        std::atexit([] { QDir(QString::fromStdString(std::string(getenv("XDG_DATA_HOME"))) + "/..").removeRecursively(); });
        return new QApplication(argc, argv);  // kept for the whole run: widgets may outlive a test
    }();
    return *app;
}

}  // namespace kestrel::testing
