// kestrel-player: the application object. Installs the Qt display into the engine, picks the
// user's language, builds the dialog with the command line's file and runs it until it ends.
#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "app/command_line.h"
#include "app/file_chooser.h"
#include "app/main_dialog.h"
#include "app/player_library.h"
#include "app/qt_display.h"
#include "app/shell_registration.h"
#include "app/video_widgets.h"
#include "engine/engine.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("kestrel-player");
    QApplication::setApplicationVersion(KESTREL_VERSION);

    QTranslator own, qt;
    if (own.load(QLocale(), "kestrel", "_", ":/i18n")) QApplication::installTranslator(&own);
    if (qt.load(QLocale(), "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qt);

    using namespace kestrel::app;
    const VideoKind kind = ChooseVideoKind();
    auto link = std::make_shared<DisplayLink>();
    kestrel::engine::EnginePlatform platform;
    platform.display = QtDisplayFactory(kind, link);
    kestrel::engine::SetEnginePlatform(std::move(platform));  // before the first kx call

    EnginePlayerLibrary library;
    DialogFileChooser files;
    MainDialog::Services services;
    services.library = &library;
    services.files = &files;
    services.registerFileType = [] { RegisterFileType(QApplication::applicationFilePath(), UserXdgFolders()); };
    services.videoArea = [kind, link](QWidget* parent) { return CreateVideoArea(kind, link, parent); };
    MainDialog dialog(services, CommandLinePath(QApplication::arguments()));
    dialog.show();
    dialog.exec();
    return 0;
}
