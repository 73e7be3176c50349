// Answers the window's modal message dialog from the event loop, so that a test can press
// a button that ends in myMessageBox::exec() and then read what the dialog showed.
#pragma once

#include "mymessagebox.h"

#include <QApplication>
#include <QLabel>
#include <QList>
#include <QPushButton>
#include <QString>
#include <QTimer>

#include <functional>

struct ShownMessage
{
    QString title;
    QString text;
    bool twoButtons;
};

// Runs action; every message dialog it opens is recorded and closed with its OK (or
// "continue") button. onShown runs while each dialog is up, to look at the window then.
// A dialog still open after 5 seconds is closed so a broken test fails instead of hanging.
inline QList<ShownMessage> answerMessages(const std::function<void()>& action,
                                          const std::function<void()>& onShown = {})
{
    QList<ShownMessage> shown;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<myMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        auto* text = box->findChild<QLabel*>(QStringLiteral("lab_msg"));
        auto* cancel = box->findChild<QPushButton*>(QStringLiteral("btn_msg_cancel"));
        shown.append({box->windowTitle(), text ? text->text() : QString(), cancel && cancel->isVisible()});
        if (onShown) {
            onShown();
        }
        box->btn_ok_continue();
    });
    poll.start();
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<myMessageBox*>(QApplication::activeModalWidget())) {
            box->done(99);
        }
    });
    watchdog.start(5000);
    action();
    return shown;
}
