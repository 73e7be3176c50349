// PinPages: the label, verify-PIN and change-PIN pages with their typing checks, the checks
// of the pages the window never offers, and the keyboard rules of the three pages.
#pragma once

#include "pagecontext.h"

class QLabel;
class QLineEdit;
class QWidget;

class PinPages
{
public:
    // window: whose focus tells which change-PIN field the typing was in.
    PinPages(const PageContext& context, QWidget* window);

    // Page opening: the page's first field takes the typing.
    void openLabelPage();
    void openVerifyPage();
    void openChangePage();

    // Typing checks: the count beside a field, and whether OK may be pressed reported.
    void labelTyped();
    void verifyPinTyped();
    // Each change-PIN field shows its own count, but OK needs all three long enough.
    void changePinTyped(QLineEdit* field, QLabel* countLabel);
    void labelBytesTyped();
    void unblockTyped();
    void authKeyTyped();
    void initializeTyped();

    // Operations.
    void changeLabel();
    void verifyPin();
    void changePin();

private:
    // Enter in a page's last field presses its OK button; in an earlier field it moves on.
    void connectEnterKeys();
    // A PIN field takes printable ASCII only, and says so when it refuses something.
    void guardPinField(QLineEdit* field, QLabel* countLabel);
    // Gives a field of the page shown the focus (after a result dialog: where the typing was).
    void focusField(int page, QLineEdit* field);
    // Export and delete follow a verified PIN.
    void reportVerified(bool verified);

    PageContext m_context;
    QWidget* m_window;
};
