#include "app/OrbelApp.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    COrbelApp app;
    if (!app.InitInstance(QApplication::arguments().mid(1)))
        return app.ExitInstance(1);
    return app.ExitInstance(QApplication::exec());
}
