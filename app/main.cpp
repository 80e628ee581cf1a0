// Program entry: the application object, the main window and the message loop. The toolkit's own
// command-line options are not read; the program's are "--log FILE", "--help" and "--version".
#include <QApplication>
#include <QCommandLineParser>
#include <QStringList>

#include "app/Locale.h"
#include "app/TrafficMonitor.h"
#include "app/VX538AB.h"

int main(int argc, char** argv) {
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setApplicationDisplayName(QStringLiteral("VX538-T-B-4"));
    QApplication::setApplicationVersion(QStringLiteral(VX_VERSION));
    app::ApplyLocaleSettings();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Configuration tool for the VX538-T-B field converter."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption logOption(
        QStringLiteral("log"),
        QStringLiteral(
            "Append every frame and event of the exchange to <file>, one line each, as it happens."),
        QStringLiteral("file"));
    parser.addOption(logOption);
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    parser.process(arguments);

    TForm1 form;
    form.show();
    if (parser.isSet(logOption)) {
        form.Traffic().startLogFile(parser.value(logOption));
    }
    return application.exec();
}
