#pragma once
// RunParametersPage: the contents of the tab 環境, the run parameters as the
// operator types them: repetitions, wait, block size, order, periodic runs,
// time-out, TTL and the route trace options. The run controllers read them
// at the moment they need them (through the window's run binding); the
// target file keeps them beside itself.
//
// While a run is in progress every field is disabled. When idle, the order
// buttons follow the repetition count (two or more) and the interval field
// follows its check box.

#include <QWidget>

class QCheckBox;
class QGroupBox;
class QRadioButton;

namespace tarvok {

class TSpinEdit;

class RunParametersPage : public QWidget {
    Q_OBJECT
public:
    explicit RunParametersPage(QWidget* parent = nullptr);

    TSpinEdit* edtPingCount = nullptr;
    TSpinEdit* edtPingWait = nullptr;
    TSpinEdit* edtBlockSize = nullptr;
    QGroupBox* grpOrder = nullptr;
    QRadioButton* chkCycleToTerm = nullptr;
    QRadioButton* chkTermToCycle = nullptr;
    QCheckBox* chkInterval = nullptr;
    TSpinEdit* edtInterval = nullptr;
    TSpinEdit* edtTimeout = nullptr;
    TSpinEdit* edtTTL = nullptr;
    QGroupBox* grpTraceRoute = nullptr;
    TSpinEdit* edtMaxHops = nullptr;
    QCheckBox* chkResolveHostName = nullptr;

    // The idle or running state of the fields.
    void setIdle(bool idle);
    bool isIdle() const { return idle_; }

public slots:
    void edtPingCountChange();
    void chkIntervalClick();

private:
    void createTraceGroup();
    bool idle_ = true;
};

} // namespace tarvok
