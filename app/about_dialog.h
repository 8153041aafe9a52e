// The About box: the application icon, two lines of text and OK, in Chinese in both languages.
#pragma once

#include <QDialog>

namespace kestrel::app {

class AboutDialog final : public QDialog {
public:
    explicit AboutDialog(QWidget* parent);
};

}  // namespace kestrel::app
