#include "CloudCommand.h"
#include "KanbanBoardView.h"
#include "stores/BoardStore.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "cloud") == 0) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setOrganizationName(QStringLiteral("Lumaret"));
        QCoreApplication::setApplicationName(QStringLiteral("Lumaret"));
        return runCloudCommand(QCoreApplication::arguments().mid(2));
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Lumaret"));
    QApplication::setApplicationName(QStringLiteral("Lumaret"));

    BoardStore store(BoardPersistence::live());
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Lumaret"));
    window.setCentralWidget(new KanbanBoardView(&store));
    window.resize(1120, 720);
    window.show();
    return app.exec();
}
