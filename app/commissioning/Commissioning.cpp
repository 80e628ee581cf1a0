// The commissioning entries of the window.
#include "app/commissioning/Commissioning.h"

#include <QAction>
#include <QGroupBox>
#include <QMenu>
#include <QPushButton>

#include "app/commissioning/CommissioningDialogs.h"
#include "app/configuration/ConfigurationActions.h"
#include "app/commissioning/LiveValuesWindow.h"
#include "app/inspection/InspectionDialogs.h"
#include "app/window/VX538AB.h"

namespace app {

Commissioning::Commissioning(TForm1& form) : form_(form) {
    // After the whole-configuration entries, before the traffic monitor's, which stays last.
    QMenu* menu = form_.Configuration().menu();
    QAction* before = nullptr;
    for (QAction* a : menu->actions()) {
        if (a->objectName() == QStringLiteral("TrafficMonitorMenuAction")) {
            before = a;
        }
    }
    menu->insertSeparator(before);
    const auto entry = [&](const QString& text, const char* name, auto open) {
        auto* action = new QAction(text, menu);
        menu->insertAction(before, action);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, [this, open] { (this->*open)(); });
    };
    entry(tr("Li&ve Values"), "LiveValuesAction", &Commissioning::liveValues);
    entry(tr("&Find Instrument..."), "FindInstrumentAction", &Commissioning::findInstrument);
    entry(tr("&Check Mapping..."), "CheckMappingAction", &Commissioning::checkMapping);
    entry(tr("Register &Map..."), "RegisterMapAction", &Commissioning::registerMap);
    // The inspection's entries together, the change log's and the report's after them.
    menu->insertSeparator(before);
    entry(tr("Loo&p Check..."), "LoopCheckAction", &Commissioning::loopCheck);
    entry(tr("Inspec&tion..."), "InspectionAction", &Commissioning::inspection);

    // Under the parse format group's "Query", where the group has room.
    if (auto* group = form_.findChild<QGroupBox*>(QStringLiteral("GroupBox16"))) {
        QPushButton* query = form_.findChild<QPushButton*>(QStringLiteral("Button19"));
        fromInstrument_ = new QPushButton(tr("From the\ninstrument..."), group);
        fromInstrument_->setObjectName("FromInstrumentButton");
        fromInstrument_->setAccessibleName(tr("Parse format fields from the instrument's reply"));
        fromInstrument_->setToolTip(tr("List the instrument's reply to a read meter command by offset; picking a "
                                       "field fills a row's address and length"));
        const QRect below = query ? query->geometry() : QRect(612, 63, 80, 23);
        // A little wider than "Query", so "instrument..." fits its line; the Set buttons end left of both.
        fromInstrument_->setGeometry(below.x() - 8, below.bottom() + 8, below.width() + 14, 2 * below.height() - 6);
        connect(fromInstrument_, &QPushButton::clicked, this, [this] { fieldsFromInstrument(); });
        // Tab reaches it right after the group's "Query", not after everything else in the window.
        if (query) {
            QWidget::setTabOrder(query, fromInstrument_);
        }
    }
}

Commissioning::~Commissioning() {
    // The windows hear the exchange: they go before the window's observers do.
    delete live_.data();
    delete scan_.data();
    delete fields_.data();
    delete check_.data();
    delete map_.data();
    delete loop_.data();
    delete inspection_.data();
}

template <class Window> Window& Commissioning::show(QPointer<Window>& window) {
    if (!window) {
        window = new Window(form_, &form_);
        window->setWindowFlag(Qt::Window);
        window->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    window->show();
    window->raise();
    window->activateWindow();
    return *window;
}

LiveValuesWindow& Commissioning::liveValues() {
    return show(live_);
}

InstrumentScanDialog& Commissioning::findInstrument() {
    return show(scan_);
}

ReplyFieldsDialog& Commissioning::fieldsFromInstrument() {
    return show(fields_);
}

CheckMappingDialog& Commissioning::checkMapping() {
    return show(check_);
}

RegisterMapDialog& Commissioning::registerMap() {
    return show(map_);
}

LoopCheckDialog& Commissioning::loopCheck() {
    return show(loop_);
}

InspectionDialog& Commissioning::inspection() {
    return show(inspection_);
}

} // namespace app
