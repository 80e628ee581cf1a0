// Puts the real window, on a simulated converter, in the states the README's pictures show, for
// scripts/screenshot.sh (VX538_BINARY=build/tests/app/window_scenes):
//   VX538_SCENE=menu    the header's configuration menu open
//   VX538_SCENE=modbus  the status line after a MODBUS test on the "Modbus Parameter Configuration" tab
//   VX538_SCENE=communication  the status line after the communication query
//   VX538_SCENE=writeall  Write All's account after the converter fell silent midway (about 10 s in)
// It ends by itself after a few seconds, or at SIGTERM (which the script sends), stopping the simulator. Under Xvfb without a window manager
// an open popup menu reaches the screen black; with VX538_SCENE_OUT=FILE the scene also saves the
// window as it draws itself, with the open menu drawn where it stands, as a PNG.
#include <csignal>
#include <cstdio>
#include <fstream>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QTimer>

#include "app/ConfigurationActions.h"
#include "app/Locale.h"
#include "app/TrafficMonitor.h"
#include "app/VX538AB.h"
#include "tests/support/SimProcess.h"

namespace {

int stopPipe[2] = {-1, -1};

// Only a write: the event loop reads the pipe and quits, so the simulator is stopped on the way out.
void onTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(stopPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char** argv) {
    const char* scene = std::getenv("VX538_SCENE");
    const std::string which = scene ? scene : "menu";
    QApplication application(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setApplicationDisplayName(QStringLiteral("VX538-T-B-4"));
    app::ApplyLocaleSettings();
    // A menu that fades or rolls in is caught half drawn by a screenshot.
    QApplication::setEffectEnabled(Qt::UI_AnimateMenu, false);
    QApplication::setEffectEnabled(Qt::UI_FadeMenu, false);

    if (::pipe(stopPipe) == 0) {
        std::signal(SIGTERM, onTerminate);
    }
    QSocketNotifier stop(stopPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &application, [] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
        }
        QApplication::quit();
    });

    // The simulator's switches, for the scene that turns it silent midway.
    const std::string control = "/tmp/vx538-scene-control-" + std::to_string(::getpid());
    testsupport::SimProcess sim(VX538_SIM_PATH, which == "writeall" ? std::vector<std::string>{"--control", control}
                                                                    : std::vector<std::string>{});
    TForm1 form;
    form.SetPortName(QString::fromStdString(sim.path()));
    form.show();
    form.findChild<QPushButton*>(QStringLiteral("Button1"))->click();

    QTimer poll;
    int phase = 0;
    if (which == "modbus") {
        form.findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(2);
        QTimer::singleShot(300, &form, [&form] { form.findChild<QPushButton*>(QStringLiteral("Button4"))->click(); });
    } else if (which == "communication") {
        QTimer::singleShot(300, &form, [&form] { form.findChild<QPushButton*>(QStringLiteral("Button6"))->click(); });
    } else if (which == "writeall") {
        // Blocks end after 30 ms of silence instead of 400, so the scene takes seconds, not half a minute.
        form.Comm1->SetReadIntervalTimeout(30);
        QObject::connect(&poll, &QTimer::timeout, &form, [&] {
            app::ConfigurationActions& actions = form.Configuration();
            std::size_t sets = 0;
            const traffic::EventLog& log = form.Traffic().recorder().log();
            for (std::size_t i = 0; i < log.size(); ++i) {
                sets += log.at(i).kind == traffic::EventKind::Sent && log.at(i).bytes.starts_with("QQS#");
            }
            if (phase == 0) {
                actions.readAll();
                phase = 1;
            } else if (phase == 1 && !actions.running()) {
                actions.writeAll();
                phase = 2;
            } else if (phase == 2 && sets >= 8) {
                std::ofstream(control) << "silent on\n";
                phase = 3;
            } else if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); box && phase == 3) {
                // The user closes the timeout's box; the account follows it.
                if (box->text() == QStringLiteral("Parameter Setting Timeout!")) {
                    box->accept();
                } else {
                    phase = 4;
                    poll.stop();
                    // Under Xvfb without a window manager the box reaches the screen black: the
                    // picture draws it over the window where it stands.
                    if (const char* out = std::getenv("VX538_SCENE_OUT")) {
                        QImage picture = form.grab().toImage();
                        QPainter painter(&picture);
                        painter.drawPixmap(form.mapFromGlobal(box->pos()), box->grab());
                        painter.end();
                        picture.save(QString::fromLocal8Bit(out));
                    }
                }
            }
        });
        poll.start(100);
    } else {
        QTimer::singleShot(800, &form, [&form] {
            QPushButton* button = form.Configuration().menuButton();
            button->setDown(true);
            form.Configuration().menu()->popup(button->mapToGlobal(QPoint(0, button->height())));
        });
    }
    if (const char* out = std::getenv("VX538_SCENE_OUT"); out && which != "writeall") {
        QTimer::singleShot(2000, &form, [&form, path = QString::fromLocal8Bit(out)] {
            QImage picture = form.grab().toImage();
            QPainter painter(&picture);
            QMenu* menu = form.Configuration().menu();
            if (menu->isVisible()) {
                painter.drawPixmap(form.mapFromGlobal(menu->pos()), menu->grab());
            }
            painter.end();
            picture.save(path);
        });
    }
    QTimer::singleShot(which == "writeall" ? 30000 : 8000, &application, [] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
        }
        QApplication::quit();
    });
    const int status = application.exec();
    std::remove(control.c_str());
    return status;
}
