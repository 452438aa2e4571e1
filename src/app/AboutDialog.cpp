#include "AboutDialog.h"

#include "stores/BoardPersistence.h"
#include "support/TextStyles.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

AboutDialog::AboutDialog(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("关于 Lumaret"));
    const QString boardFile = BoardPersistence::liveStoragePath();
    const QString folder = boardFile.isEmpty()
                               ? QStringLiteral("（没有可用的数据文件夹）")
                               : QDir::toNativeSeparators(QFileInfo(boardFile).absolutePath());

    auto *icon = new QLabel(this);
    icon->setPixmap(QGuiApplication::windowIcon().pixmap(64, 64));
    icon->setAlignment(Qt::AlignTop);
    auto *name =
        new QLabel(QStringLiteral("Lumaret %1").arg(QStringLiteral(LUMARET_VERSION)), this);
    name->setFont(roundedSystemFont(20, QFont::DemiBold));
    name->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *details = new QLabel(this);
    details->setTextFormat(Qt::RichText);
    details->setText(
        QStringLiteral("捕捉灵感，排进下一步。<br><br>"
                       "看板文件所在文件夹：<br><code>%1</code><br><br>"
                       "基于 Qt %2（LGPL-3.0）构建；图标来自 Tabler Icons（MIT 许可）。")
            .arg(folder.toHtmlEscaped(), QString::fromLatin1(qVersion())));
    details->setWordWrap(true);
    details->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    details->setMinimumWidth(340);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *close = buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    close->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *text = new QVBoxLayout;
    text->addWidget(name);
    text->addWidget(details);
    auto *row = new QHBoxLayout;
    row->setSpacing(18);
    row->addWidget(icon);
    row->addLayout(text, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 22, 24, 18);
    layout->addLayout(row);
    layout->addWidget(buttons);
    // Nothing in it grows: no maximise button, no resizing.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
