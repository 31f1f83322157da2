#pragma once
// TfrmSelectTerm: the target selection dialog "対象選択". It lists the targets
// (address and comment), every row selected at the start; the rows selected
// when it closes with OK are the chosen ones. OK with nothing selected asks
// whether all targets are meant.

#include <QDialog>
#include <QMessageBox>
#include <functional>
#include <vector>

class QLabel;
class QPushButton;
class QTreeWidget;
class QWidget;

namespace tarvok {

class TargetList;

class TfrmSelectTerm : public QDialog {
    Q_OBJECT
public:
    static constexpr int DesignWidth = 436;
    static constexpr int DesignHeight = 317;

    // The question box: title, text; Yes, No or Cancel.
    using AskBox = std::function<QMessageBox::StandardButton(QWidget* parent, const QString& title, const QString& text)>;
    static AskBox standardAskBox();
    static QString noneSelectedQuestion();

    explicit TfrmSelectTerm(QWidget* parent = nullptr);
    ~TfrmSelectTerm() override;

    void setAskBox(AskBox box) { askBox_ = std::move(box); }

    // One row per target in list order, every row selected, both columns
    // sized to their contents.
    void Fill(const TargetList& targets);
    void SetAllSelected(bool value);
    void Button1Click(); // OK
    void Button3Click(); // 全選択
    void Button4Click(); // 全解除

    // Per row: selected now.
    std::vector<bool> chosenRows() const;

    QWidget* Panel1 = nullptr; // the label strip
    QLabel* Label1 = nullptr;
    QTreeWidget* ListView1 = nullptr;
    QWidget* Panel2 = nullptr; // the button strip
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;

private:
    AskBox askBox_;
};

} // namespace tarvok
