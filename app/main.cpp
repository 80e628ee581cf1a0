// Program entry: the command line, the application object, the main window and the message loop.
// The toolkit's own options are not read: only "--port NAME", "--log FILE", "--change-log FILE",
// "--no-change-log", "--help" and "--version".
#include <cstdio>

#include <QApplication>
#include <QCommandLineParser>
#include <QStringList>

#include "app/inspection/ChangeRecorder.h"
#include "app/window/Locale.h"
#include "inspection/ChangeLog.h"
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
    const QCommandLineOption changeLogOption(
        QStringLiteral("change-log"),
        QStringLiteral("Log every set command to FILE (default $XDG_STATE_HOME/vx538/changes.jsonl)."),
        QStringLiteral("FILE"));
    parser.addOption(changeLogOption);
    const QCommandLineOption noChangeLogOption(QStringLiteral("no-change-log"),
                                               QStringLiteral("Log no set command."));
    parser.addOption(noChangeLogOption);
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
    form.Changes().start(parser.isSet(noChangeLogOption) ? std::string()
                         : parser.isSet(changeLogOption) ? parser.value(changeLogOption).toStdString()
                                                         : inspection::DefaultChangeLogPath());
    if (parser.isSet(portOption)) {
        form.SetPortName(parser.value(portOption));
    }
    form.show();
    if (parser.isSet(logOption)) {
        form.Traffic().startLogFile(parser.value(logOption));
    }
    return application.exec();
}
