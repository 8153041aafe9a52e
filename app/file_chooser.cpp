#include "app/file_chooser.h"

#include <QFileDialog>

namespace kestrel::app {

QString DialogFileChooser::Choose(QWidget* parent, const FileRequest& request) {
    QFileDialog dialog(parent);
    const bool save = request.mode == FileRequest::Mode::Save;
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setNameFilters(request.filters);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

FileRequest OpenRecordingRequest() {
    // File systems here tell case apart: recordings copied from a recorder's disk are often
    // named in lower case.
    return {FileRequest::Mode::Open, "H64", {"H264 File(*.H64 *.h64)", "All Files(*)"}};
}

FileRequest SaveSnapshotRequest() { return {FileRequest::Mode::Save, "BMP", {"BMP File(*.BMP *.bmp)"}}; }

}  // namespace kestrel::app
