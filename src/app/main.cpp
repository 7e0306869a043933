#include "app/OrbelApp.h"
#include "net/DescriptorLimit.h"

#include <QApplication>

int main(int argc, char** argv)
{
    RaiseDescriptorLimit();
    QApplication application(argc, argv);
    COrbelApp app;
    if (!app.InitInstance(QApplication::arguments().mid(1)))
        return app.ExitInstance(1);
    return app.ExitInstance(QApplication::exec());
}
