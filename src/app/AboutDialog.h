#pragma once

#include <QDialog>

/// 关于 Lumaret: the version, where the board file lives, and what Lumaret is built on. A small
/// fixed-size dialog with the application's icon and one 关闭 button.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget *parent = nullptr);
};
