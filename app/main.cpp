// Program entry: the application object, the main window and the message loop. No command-line
// option is read, not even the toolkit's own.
#include <QApplication>

#include "app/Locale.h"
#include "app/VX538AB.h"

int main(int, char** argv) {
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setApplicationDisplayName(QStringLiteral("VX538-T-B-4"));
    app::ApplyLocaleSettings();

    TForm1 form;
    form.show();
    return application.exec();
}
