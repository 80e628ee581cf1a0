// The commissioning entries of the window: "Live Values", "Find Instrument...", "Check Mapping...",
// "Register Map...", "Loop Check..." and "Inspection..." in the Configuration menu, and "From the
// instrument..." by the parse format group.
// Each opens a thin window over a job of jobs/; their requests share the window's port through the
// window's job queue.
#pragma once

#include <memory>

#include <QObject>
#include <QPointer>

class QAction;
class QPushButton;
class TForm1;

namespace app {

class CheckMappingDialog;
class InspectionDialog;
class InstrumentScanDialog;
class LoopCheckDialog;
class LiveValuesWindow;
class RegisterMapDialog;
class ReplyFieldsDialog;

class Commissioning : public QObject {
    Q_OBJECT
public:
    explicit Commissioning(TForm1& form);
    ~Commissioning() override;

    // Each opens (or raises) its window and returns it.
    LiveValuesWindow& liveValues();
    InstrumentScanDialog& findInstrument();
    ReplyFieldsDialog& fieldsFromInstrument();
    CheckMappingDialog& checkMapping();
    RegisterMapDialog& registerMap();
    LoopCheckDialog& loopCheck();
    InspectionDialog& inspection();

    QPushButton* fromInstrumentButton() const { return fromInstrument_; }

private:
    template <class Window> Window& show(QPointer<Window>& window);

    TForm1& form_;
    QPushButton* fromInstrument_ = nullptr;
    QPointer<LiveValuesWindow> live_;
    QPointer<InstrumentScanDialog> scan_;
    QPointer<ReplyFieldsDialog> fields_;
    QPointer<CheckMappingDialog> check_;
    QPointer<RegisterMapDialog> map_;
    QPointer<LoopCheckDialog> loop_;
    QPointer<InspectionDialog> inspection_;
};

} // namespace app
