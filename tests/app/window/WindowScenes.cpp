// Puts the real window, on a simulated converter, in the states the README's pictures show, for
// scripts/screenshot.sh (VX538_BINARY=build/tests/app/window_scenes):
//   VX538_SCENE=menu    the header's configuration menu open
//   VX538_SCENE=modbus  the status line after a MODBUS test on the "Modbus Parameter Configuration" tab
//   VX538_SCENE=communication  the status line after the communication query
//   VX538_SCENE=writeall  Write All's account after the converter fell silent midway (about 10 s in);
//                       VX538_SCENE_OUT saves the window with the account's box drawn on it
//   VX538_SCENE=cut     Read All stopped at a reply cut in two by a pause of 600 ms, with its box
//   VX538_SCENE=damaged the box of a HART identity reply whose check byte is wrong
//   VX538_SCENE=live    Live Values polling every 250 ms, 40 samples
//   VX538_SCENE=check   Check Mapping after a check, one variable moved off its field
//   VX538_SCENE=fields  the field list of read meter command 1's reply ("From the instrument...")
//   VX538_SCENE=scanfaults  Find Instrument over an instrument at address 5 whose replies carry a wrong
//                       check byte: listed as such, not as silence
//   VX538_SCENE=livefaults  Live Values through two silent polls (marked values, a gap) and then the
//                       line lost (polling stopped, said so)
// These save their own window (VX538_SCENE_OUT) once it shows what it is there for.
//   VX538_SCENE=network the port opened as rfc2217:// through ser2net, after "System Parameters"
//   VX538_SCENE=bus     the traffic monitor listening on the simulator's tap (a second port) beside
//                       the window's own exchange; VX538_SCENE_OUT saves the monitor's window
//   VX538_SCENE=sizes   the main window, the traffic monitor (listening on the tap) and Live Values,
//                       each at its smallest size and at 1920x1080, saved as six pictures into the
//                       folder VX538_SCENE_OUT (main-min.png, main-1920.png, traffic-..., live-...)
// It ends by itself after a few seconds, or at SIGTERM (which the script sends), stopping the simulator. Under Xvfb without a window manager
// an open popup menu reaches the screen black; with VX538_SCENE_OUT=FILE the scene also saves the
// window as it draws itself, with the open menu drawn where it stands, as a PNG.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QImage>
#include <QPainter>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>

#include "app/traffic/BusListener.h"
#include "app/commissioning/Commissioning.h"
#include "app/commissioning/CommissioningDialogs.h"
#include "app/configuration/ConfigurationActions.h"
#include "app/commissioning/LiveChart.h"
#include "app/commissioning/LiveValuesWindow.h"
#include "app/inspection/InspectionDialogs.h"
#include "app/inspection/LoopPanel.h"
#include "app/inspection/ReportPdf.h"
#include "app/window/Locale.h"
#include "app/traffic/TrafficMonitor.h"
#include "app/traffic/TrafficWindow.h"
#include "app/window/VX538AB.h"
#include "tests/support/Ser2netProcess.h"
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

    const std::string tap = "/tmp/vx538-scene-tap-" + std::to_string(::getpid());
    // The simulator's switches, for the scene that turns it silent midway.
    const std::string control = "/tmp/vx538-scene-control-" + std::to_string(::getpid());
    // The bench meter's terminal, its leads in DOUTA3's loop, for the loop check's scenes.
    const std::string meter = "/tmp/vx538-scene-meter-" + std::to_string(::getpid());
    const bool loopScene = which == "loop" || which == "looptyped" || which == "inspection";
    testsupport::SimProcess sim(VX538_SIM_PATH, which == "bus"        ? std::vector<std::string>{"--tap", tap, "--noise"}
                                                : which == "sizes"    ? std::vector<std::string>{"--tap", tap}
                                                : which == "writeall" ? std::vector<std::string>{"--control", control}
                                                : which == "cut"      ? std::vector<std::string>{"--split", "600"}
                                                : which == "damaged"  ? std::vector<std::string>{"--corrupt"}
                                                : which == "scanfaults"
                                                    ? std::vector<std::string>{"--corrupt", "--hart-address", "5"}
                                                : which == "livefaults" ? std::vector<std::string>{"--control", control}
                                                : loopScene ? std::vector<std::string>{"--output-error", "3:0.2", "--meter", meter,
                                                                                       "--meter-output", "3", "--control", control}
                                                                        : std::vector<std::string>{});
    std::unique_ptr<testsupport::Ser2netProcess> server;
    if (which == "network") {
        server = std::make_unique<testsupport::Ser2netProcess>(
            std::vector<testsupport::Ser2netProcess::Device>{{sim.path(), true}});
    }
    if (which == "check") {
        // Variable 3 read one byte late: across TV and QV's unit code.
        testsupport::SimLine line(sim.path());
        line.write("QQS#MDBS3:0,18,0,1.000#");
        line.readUntilQuiet(std::chrono::milliseconds(100), std::chrono::seconds(3));
    }
    TForm1 form;
    form.SetPortName(QString::fromStdString(server ? server->url() : sim.path()));
    form.show();
    form.findChild<QPushButton*>(QStringLiteral("Button1"))->click();

    // A commissioning window, saved once `ready` holds (checked every 100 ms), then the program ends.
    const auto saveWhen = [&](QWidget* window, std::function<bool()> ready) {
        auto* poll = new QTimer(&form);
        QObject::connect(poll, &QTimer::timeout, &form, [window, ready, poll] {
            if (!ready()) {
                return;
            }
            poll->stop();
            if (const char* out = std::getenv("VX538_SCENE_OUT")) {
                window->grab().save(QString::fromLocal8Bit(out));
            }
            QTimer::singleShot(1000, qApp, [] { QApplication::quit(); });
        });
        poll->start(100);
    };
    // The window with a message box drawn over it where the box stands (under Xvfb without a window
    // manager the box reaches the screen black), saved to VX538_SCENE_OUT.
    const auto saveWithBox = [&form](QWidget* box) {
        if (const char* out = std::getenv("VX538_SCENE_OUT")) {
            QImage picture = form.grab().toImage();
            QPainter painter(&picture);
            painter.drawPixmap(form.mapFromGlobal(box->pos()), box->grab());
            painter.end();
            picture.save(QString::fromLocal8Bit(out));
        }
    };
    // Saves the first box that shows once `start` has run.
    const auto saveFirstBox = [&form, saveWithBox](int startMs, std::function<void()> start) {
        QTimer::singleShot(startMs, &form, start);
        auto* poll = new QTimer(&form);
        QObject::connect(poll, &QTimer::timeout, &form, [poll, saveWithBox] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                poll->stop();
                saveWithBox(box);
                QTimer::singleShot(1000, qApp, [] { QApplication::quit(); });
            }
        });
        poll->start(100);
    };
    QWidget* pictured = &form;
    if (which == "bus") {
        app::TrafficWindow& monitor = form.Traffic().showWindow();
        monitor.resize(1240, 330);
        monitor.move(20, 20);
        pictured = &monitor;
        form.Traffic().busListener().start(QByteArray::fromStdString(tap), 9600, serial::TParity::None);
        form.findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(2);
        QTimer::singleShot(300, &form, [&form] { form.findChild<QPushButton*>(QStringLiteral("Button4"))->click(); });
        QTimer::singleShot(1100, &form, [&form] {
            form.findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(0);
            form.findChild<QPushButton*>(QStringLiteral("Button23"))->click();
        });
    } else if (which == "sizes") {
        form.Comm1->SetReadIntervalTimeout(30);
        app::TrafficWindow& monitor = form.Traffic().showWindow();
        form.Traffic().busListener().start(QByteArray::fromStdString(tap), 9600, serial::TParity::None);
        app::LiveValuesWindow& live = form.Commissioning().liveValues();
        live.setInterval(app::LiveValuesWindow::kMinimumIntervalMs);
        QTimer::singleShot(300, &form, [&form] { form.findChild<QPushButton*>(QStringLiteral("Button23"))->click(); });
        QTimer::singleShot(1500, &live, [&live] { live.start(); });
        const auto saveSizes = [&form, &monitor, &live] {
            const QString folder = QString::fromLocal8Bit(std::getenv("VX538_SCENE_OUT"));
            const std::pair<QWidget*, const char*> windows[] = {{&form, "main"}, {&monitor, "traffic"}, {&live, "live"}};
            for (const auto& [window, name] : windows) {
                for (const bool smallest : {true, false}) {
                    window->resize(smallest ? window->minimumSizeHint().expandedTo(window->minimumSize())
                                            : QSize(1920, 1080));
                    QApplication::processEvents();
                    QApplication::processEvents();
                    window->grab().save(QStringLiteral("%1/%2-%3.png").arg(folder, QLatin1String(name),
                                                                           smallest ? QStringLiteral("min")
                                                                                    : QStringLiteral("1920")));
                }
            }
        };
        auto* poll = new QTimer(&form);
        QObject::connect(poll, &QTimer::timeout, &form, [poll, &live, saveSizes] {
            if (live.samples().size() >= 20) {
                poll->stop();
                saveSizes();
                QTimer::singleShot(500, qApp, [] { QApplication::quit(); });
            }
        });
        poll->start(100);
    } else if (which == "live") {
        app::LiveValuesWindow& live = form.Commissioning().liveValues();
        live.move(0, 0);
        live.setInterval(app::LiveValuesWindow::kMinimumIntervalMs);
        QTimer::singleShot(300, &live, [&live] { live.start(); });
        // Variables 5 to 8 (command 2, which the factory settings leave off) hidden by their legend.
        for (int v = 4; v < 8; ++v) {
            live.chart().setVariableVisible(v, false);
        }
        saveWhen(&live, [&live] { return live.samples().size() >= 40; });
    } else if (which == "check") {
        app::CheckMappingDialog& check = form.Commissioning().checkMapping();
        check.move(0, 0);
        QTimer::singleShot(300, &check, [&check] { check.start(); });
        saveWhen(&check, [&check] { return !check.checking() && !check.rows().empty(); });
    } else if (which == "fields") {
        app::ReplyFieldsDialog& fields = form.Commissioning().fieldsFromInstrument();
        fields.move(0, 0);
        QTimer::singleShot(300, &fields, [&fields] { fields.read(1); });
        saveWhen(&fields, [&fields] { return !fields.reading() && !fields.fields().empty(); });
    } else if (which == "scanfaults") {
        app::InstrumentScanDialog& scan = form.Commissioning().findInstrument();
        scan.move(0, 0);
        form.Comm1->SetReadIntervalTimeout(30);
        QTimer::singleShot(300, &scan, [&scan] { scan.start(); });
        saveWhen(&scan, [&scan] { return !scan.scanning() && scan.table()->rowCount() > 0; });
    } else if (which == "livefaults") {
        app::LiveValuesWindow& live = form.Commissioning().liveValues();
        live.move(0, 0);
        live.setInterval(app::LiveValuesWindow::kMinimumIntervalMs);
        form.Comm1->SetReadIntervalTimeout(30);
        for (int v = 4; v < 8; ++v) {
            live.chart().setVariableVisible(v, false);
        }
        QTimer::singleShot(300, &live, [&live] { live.start(); });
        // Silent for two polls, answering again, then the adapter pulled.
        auto phase = std::make_shared<int>(0);
        auto* step = new QTimer(&live);
        QObject::connect(step, &QTimer::timeout, &live, [&live, phase, control] {
            const std::size_t samples = live.samples().size();
            if (*phase == 0 && samples >= 16) {
                std::ofstream(control) << "silent on\n";
                *phase = 1;
            } else if (*phase == 1 && live.missedPolls() >= 2) {
                std::ofstream(control) << "silent off\n";
                *phase = 2;
            } else if (*phase == 2 && samples >= 34) {
                std::ofstream(control) << "hangup-after 1\n";
                *phase = 3;
            }
        });
        step->start(50);
        saveWhen(&live, [&live, phase] { return *phase == 3 && !live.polling(); });
    } else if (which == "network") {
        QTimer::singleShot(300, &form, [&form] { form.findChild<QPushButton*>(QStringLiteral("Button23"))->click(); });
    } else if (which == "modbus") {
        form.findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(2);
        QTimer::singleShot(300, &form, [&form] { form.findChild<QPushButton*>(QStringLiteral("Button4"))->click(); });
    } else if (which == "communication") {
        QTimer::singleShot(300, &form, [&form] { form.findChild<QPushButton*>(QStringLiteral("Button6"))->click(); });
    } else if (which == "writeall") {
        // Blocks end after 30 ms of silence instead of 400, so the scene takes seconds, not half a minute.
        form.Comm1->SetReadIntervalTimeout(30);
        auto* poll = new QTimer(&form);
        auto phase = std::make_shared<int>(0);
        QObject::connect(poll, &QTimer::timeout, &form, [&form, poll, phase, control, saveWithBox] {
            app::ConfigurationActions& actions = form.Configuration();
            std::size_t sets = 0;
            const traffic::EventLog& log = form.Traffic().recorder().log();
            for (std::size_t i = 0; i < log.size(); ++i) {
                sets += log.at(i).kind == traffic::EventKind::Sent && log.at(i).bytes.starts_with("QQS#");
            }
            if (*phase == 0) {
                actions.readAll();
                *phase = 1;
            } else if (*phase == 1 && !actions.running()) {
                actions.writeAll();
                *phase = 2;
            } else if (*phase == 2 && sets >= 8) {
                std::ofstream(control) << "silent on\n";
                *phase = 3;
            } else if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); box && *phase == 3) {
                // The user closes the timeout's box; the account follows it.
                if (box->text() == QStringLiteral("Parameter Setting Timeout!")) {
                    box->accept();
                } else {
                    *phase = 4;
                    poll->stop();
                    saveWithBox(box);
                }
            }
        });
        poll->start(100);
    } else if (loopScene) {
        // DOUTA2 and DOUTA3 at 4, 12 and 20 mA; read from the meter, or typed until the third point.
        form.Comm1->SetReadIntervalTimeout(30);
        const bool inspection = which == "inspection";
        QDialog* dialog = inspection ? static_cast<QDialog*>(&form.Commissioning().inspection())
                                     : &form.Commissioning().loopCheck();
        dialog->move(0, 0);
        app::LoopPanel& panel = inspection ? *form.Commissioning().inspection().panel()
                                           : *form.Commissioning().loopCheck().panel();
        for (const char* output : {"LoopOutput2", "LoopOutput3"}) {
            panel.findChild<QCheckBox*>(QString::fromLatin1(output))->setChecked(true);
        }
        panel.findChild<QLineEdit*>(QStringLiteral("LoopPoints"))->setText(QStringLiteral("4,12,20"));
        panel.findChild<QComboBox*>(QStringLiteral("LoopReadings"))->setCurrentIndex(which == "looptyped" ? 0 : 1);
        panel.findChild<QLineEdit*>(QStringLiteral("MeterPort"))->setText(QString::fromStdString(meter));
        panel.findChild<QSpinBox*>(QStringLiteral("MeterSettle"))->setValue(100);
        // The person moving the meter's leads when asked, shown after a moment.
        auto* leads = new QTimer(dialog);
        QObject::connect(leads, &QTimer::timeout, dialog, [&panel, control] {
            if (panel.waitingForLeads()) {
                std::ofstream(control) << "meter-output " << panel.leadsTo() << "\n";
                panel.leadsMoved();
            }
        });
        leads->start(700);
        if (inspection) {
            app::InspectionDialog& d = form.Commissioning().inspection();
            d.inspector()->setText(QStringLiteral("Grace Hopper"));
            d.loopCheck()->setChecked(true);
            QTimer::singleShot(300, &d, [&d] { d.asFound(); });
            if (const char* pdf = std::getenv("VX538_SCENE_PDF")) {
                // On to as left at once, and the report it shows written as PDF.
                auto* finish = new QTimer(&d);
                QObject::connect(finish, &QTimer::timeout, &d, [&d, finish, path = QString::fromLocal8Bit(pdf)] {
                    if (d.inspecting()) {
                        return;
                    }
                    if (!d.report()) {
                        d.asLeft();
                        return;
                    }
                    finish->stop();
                    app::WriteReportPdf(*d.report(), path);
                });
                finish->start(200);
                saveWhen(&d, [&d] { return d.report().has_value() && d.reportDialog(); });
            } else {
                saveWhen(&d, [&d] { return d.found().has_value() && !d.inspecting(); });
            }
        } else if (which == "looptyped") {
            app::LoopCheckDialog& d = form.Commissioning().loopCheck();
            QTimer::singleShot(300, &d, [&d] { d.start(); });
            auto* typing = new QTimer(&d);
            QObject::connect(typing, &QTimer::timeout, &d, [&panel, typing] {
                if (panel.waiting() && panel.table()->rowCount() < 3) {
                    panel.type(panel.table()->item(panel.table()->rowCount() - 1, 1)->text());
                }
            });
            typing->start(200);
            saveWhen(&d, [&panel] { return panel.waiting() && panel.table()->rowCount() == 3; });
        } else {
            app::LoopCheckDialog& d = form.Commissioning().loopCheck();
            QTimer::singleShot(300, &d, [&d] { d.start(); });
            saveWhen(&d, [&d] { return d.result().has_value() && !d.checking(); });
        }
    } else if (which == "cut") {
        form.Comm1->SetReadIntervalTimeout(30);
        saveFirstBox(300, [&form] { form.Configuration().readAll(); });
    } else if (which == "damaged") {
        form.findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(1);
        saveFirstBox(300, [&form] { form.findChild<QPushButton*>(QStringLiteral("Button7"))->click(); });
    } else {
        QTimer::singleShot(800, &form, [&form] {
            QPushButton* button = form.Configuration().menuButton();
            button->setDown(true);
            form.Configuration().menu()->popup(button->mapToGlobal(QPoint(0, button->height())));
        });
    }
    const bool ownWindow = which == "live" || which == "check" || which == "fields" || which == "writeall" ||
                           which == "cut" || which == "damaged" || which == "scanfaults" || which == "livefaults" ||
                           which == "sizes" || loopScene;
    if (const char* out = std::getenv("VX538_SCENE_OUT"); out && !ownWindow) {
        QTimer::singleShot(2500, &form, [&form, pictured, path = QString::fromLocal8Bit(out)] {
            QImage picture = pictured->grab().toImage();
            QPainter painter(&picture);
            QMenu* menu = form.Configuration().menu();
            if (menu->isVisible()) {
                painter.drawPixmap(form.mapFromGlobal(menu->pos()), menu->grab());
            }
            painter.end();
            picture.save(path);
        });
    }
    QTimer::singleShot(ownWindow ? 60000 : 8000, &application, [] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
        }
        QApplication::quit();
    });
    const int status = application.exec();
    std::remove(control.c_str());
    std::remove(meter.c_str());
    return status;
}
