// The file dialogs of the player: which file to open, where to save a snapshot.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace kestrel::app {

struct FileRequest {
    enum class Mode { Open, Save } mode = Mode::Open;
    QString defaultSuffix;  // added when the typed name has none
    QStringList filters;    // "Name(*.ext ...)", the first one selected
};

class FileChooser {
public:
    virtual ~FileChooser() = default;
    // The chosen path, or empty on Cancel. Save asks before overwriting.
    virtual QString Choose(QWidget* parent, const FileRequest& request) = 0;
};

// Qt's file dialog.
class DialogFileChooser final : public FileChooser {
public:
    QString Choose(QWidget* parent, const FileRequest& request) override;
};

// The requests the player makes.
FileRequest OpenRecordingRequest();
FileRequest SaveSnapshotRequest();

}  // namespace kestrel::app
