// Program entry: the command line, the application object, the main window and the message loop.
// The toolkit's own options are not read: only "--port NAME", "--log FILE", "--help" and "--version".
#include <cstdio>

#include <QApplication>
#include <QCommandLineParser>
#include <QStringList>

#include "app/window/Locale.h"
#include "app/traffic/TrafficMonitor.h"
#include "app/window/VX538AB.h"

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(QStringLiteral("vx538-config"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VX538_VERSION));

    // Read before the window system is reached, so --help and --version work without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Configuration tool for the VX538-T-B field converter."));
    // Our own help option: the built-in one would also offer the toolkit's options, which are not read.
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Displays this help."));
    parser.addOption(helpOption);
    parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Serial port shown in \"Serial Port:\" at start-up: COM1, ttyUSB0, /dev/pts/3..."),
        QStringLiteral("NAME"));
    parser.addOption(portOption);
    const QCommandLineOption logOption(
        QStringLiteral("log"),
        QStringLiteral("Append every frame and event of the exchange to FILE, one line each, as it happens."),
        QStringLiteral("FILE"));
    parser.addOption(logOption);
    parser.process(arguments);
    if (parser.isSet(helpOption)) {
        std::fputs(qPrintable(parser.helpText().replace(QStringLiteral("<executable_name>"),
                                                        QCoreApplication::applicationName())),
                   stdout);
        return 0;
    }

    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setApplicationDisplayName(QStringLiteral("VX538-T-B-4"));
    app::ApplyLocaleSettings();

    TForm1 form;
    if (parser.isSet(portOption)) {
        form.SetPortName(parser.value(portOption));
    }
    form.show();
    if (parser.isSet(logOption)) {
        form.Traffic().startLogFile(parser.value(logOption));
    }
    return application.exec();
}
