#include "app/about_dialog.h"

#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace kestrel::app {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("100");
    setWindowTitle(QString::fromUtf8("关于 Kestrel"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(":/kestrel/icons/kestrel-player.svg").pixmap(32, 32));
    auto* first = new QLabel(QString::fromUtf8("Kestrel 监控录像播放器 " KESTREL_VERSION), this);
    auto* second = new QLabel(QString::fromUtf8("播放硬盘录像机的 H.264/MPEG-4 录像文件"), this);
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("1");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(16, 12, 12, 12);
    grid->setHorizontalSpacing(16);
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(first, 0, 1);
    grid->addWidget(second, 1, 1);
    grid->addWidget(ok, 0, 2, Qt::AlignTop);
    grid->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace kestrel::app
