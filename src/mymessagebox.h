// myMessageBox: the manager's one modal dialog for the results and yes/no prompts of
// the token operations. setWarnMode() configures it for a numbered mode, exec() runs it.
#pragma once

#include <QDialog>

#include <memory>
#include <string>

class QCloseEvent;
class QLabel;
class Ui_myMessageBox;

class myMessageBox : public QDialog
{
    Q_OBJECT

public:
    explicit myMessageBox(QWidget* parent = nullptr);
    ~myMessageBox() override;

    // Title, message and buttons for a mode and a title kind (window::Mode... and
    // window::Title... in windowconstants.h) and, for ModePinIncorrect, the remaining
    // retry count. Does not show the dialog: run exec() next.
    // exec() then gives 0 for "OK" or "continue", 1 for "cancel", Escape or closing.
    void setWarnMode(unsigned mode, unsigned titleKind, unsigned number);

public slots:
    void btn_ok_continue();
    void btn_cancel();
    // Escape ends the dialog like its close button: as a cancel.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::string messageFor(unsigned mode, unsigned number);
    void showButtons();

    const std::unique_ptr<Ui_myMessageBox> ui;
    bool twoButtons = false;
    // Captions laid over the buttons, so that long translations wrap inside them; the
    // buttons own them.
    QLabel* lab_box_cancel = nullptr;
    QLabel* lab_box_ok = nullptr;
};

// Every message of the window goes through here: the dialog set for the mode and title
// kind, then run; gives what exec() gives.
int runMessage(myMessageBox& box, unsigned mode, unsigned titleKind, unsigned number = 0);
