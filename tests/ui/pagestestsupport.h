// Shared pieces of the container, certificate and expiry tests: certificates made on the
// spot with the names and dates a case needs, public-key blobs of a chosen bit length, and
// a watcher that answers the modal dialogs the window opens and records what they said.
#pragma once

#include "windowtestsupport.h"

#include "ossl/Ossl.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <QAbstractButton>
#include <QApplication>
#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTreeView>
#include <QTimer>

#include <cstring>
#include <functional>
#include <memory>

#include <skf/skfapi.h>

// A self-signed P-256 certificate valid until the end of notAfter (UTC), with the common
// name cn, or no common name at all when cn is empty. Empty on failure.
inline QByteArray makeCertificate(const QByteArray& cn, const QDate& notAfter)
{
    const ossl::Pkey key(EVP_EC_gen("P-256"));
    const ossl::Certificate certificate(X509_new());
    if (!key || !certificate) {
        return {};
    }
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 7);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Velkora Test"), -1, -1,
                               0);
    if (!cn.isEmpty()) {
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(cn.constData()),
                                   -1, -1, 0);
    }
    X509_set_issuer_name(certificate.get(), name);
    const QDateTime start(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);
    const QDateTime end(notAfter, QTime(23, 59, 59), Qt::UTC);
    ASN1_TIME_set(X509_getm_notBefore(certificate.get()), static_cast<time_t>(start.toSecsSinceEpoch()));
    ASN1_TIME_set(X509_getm_notAfter(certificate.get()), static_cast<time_t>(end.toSecsSinceEpoch()));
    X509_set_pubkey(certificate.get(), key.get());
    if (X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0) {
        return {};
    }
    const int length = i2d_X509(certificate.get(), nullptr);
    QByteArray der(length, '\0');
    auto* cursor = reinterpret_cast<unsigned char*>(der.data());
    i2d_X509(certificate.get(), &cursor);
    return der;
}

// RSAPUBLICKEYBLOB (268 bytes) and ECCPUBLICKEYBLOB (132 bytes) reporting a bit length.
inline QByteArray rsaPublicKeyBlob(ULONG bits)
{
    QByteArray blob(268, '\x11');
    const ULONG algorithm = 0x00010000;
    std::memcpy(blob.data(), &algorithm, 4);
    std::memcpy(blob.data() + 4, &bits, 4);
    return blob;
}

inline QByteArray eccPublicKeyBlob(ULONG bits)
{
    QByteArray blob(132, '\x22');
    std::memcpy(blob.data(), &bits, 4);
    return blob;
}

// What a modal dialog showed before the watcher answered it.
struct SeenDialog
{
    QString kind; // "message" (the window's own dialog), "warning", "critical", "file"
    QString title;
    QString text;
};

// Answers every modal dialog as it opens: the message dialog and message boxes with their
// OK button, a save-file dialog with fileAnswer (or cancel when it is empty).
class DialogWatcher : public QObject
{
public:
    explicit DialogWatcher(QObject* parent = nullptr)
        : QObject(parent)
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { answer(); });
        m_timer.start(20);
    }

    QList<SeenDialog> seen;
    QString fileAnswer;

    // What was seen, less the file dialogs (one may be seen again after a question on it).
    QList<SeenDialog> messages() const
    {
        QList<SeenDialog> shown;
        for (const SeenDialog& dialog : seen) {
            if (dialog.kind != QStringLiteral("file")) {
                shown.append(dialog);
            }
        }
        return shown;
    }

private:
    // Records the dialog now and answers it from a queued call, so that a dialog the answer
    // itself opens (the file dialog's replace question) is seen by the next tick.
    void answer()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == m_answering) {
            return;
        }
        std::function<void()> reply;
        if (auto* files = qobject_cast<QFileDialog*>(modal)) {
            seen.append({QStringLiteral("file"), files->windowTitle(), files->selectedFiles().value(0)});
            const QString answer = fileAnswer;
            reply = [files, answer] {
                if (answer.isEmpty()) {
                    files->reject();
                } else {
                    // Typed into the name field, as a user would.
                    if (auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
                        name->setText(answer);
                    } else {
                        files->selectFile(answer);
                    }
                    static_cast<QDialog*>(files)->accept();
                }
            };
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            QAbstractButton* ok = box->button(QMessageBox::Ok);
            if (ok == nullptr) {
                // The file dialog's question whether to replace a file: yes, unrecorded.
                ok = box->button(QMessageBox::Yes);
            } else {
                const bool critical = box->icon() == QMessageBox::Critical;
                seen.append({critical ? QStringLiteral("critical") : QStringLiteral("warning"), box->windowTitle(),
                             box->text()});
            }
            reply = [ok] {
                if (ok != nullptr) {
                    ok->click();
                }
            };
        } else if (auto* ok = modal->findChild<QPushButton*>(QStringLiteral("btn_msg_ok"))) {
            auto* message = modal->findChild<QLabel*>(QStringLiteral("lab_msg"));
            seen.append({QStringLiteral("message"), modal->windowTitle(), message ? message->text() : QString()});
            reply = [ok] { ok->click(); };
        } else {
            return;
        }
        m_answering = modal;
        QPointer<QWidget> target(modal);
        QMetaObject::invokeMethod(
            this,
            [this, reply, target] {
                m_answering = nullptr;
                // A dialog that went away, or that another one now covers, is not answered.
                if (target && QApplication::activeModalWidget() == target) {
                    reply();
                }
            },
            Qt::QueuedConnection);
    }

    QTimer m_timer;
    QWidget* m_answering = nullptr;
};

namespace pages {

// The texts of a node's children.
inline QStringList childTexts(const QStandardItem* node)
{
    QStringList texts;
    for (int row = 0; row < node->rowCount(); ++row) {
        texts << node->child(row)->text();
    }
    return texts;
}

// Clicks the application node of the token, as a user would, to fill the container view.
inline void clickApplicationNode(RecordingWindow& window, int deviceRow = 0)
{
    QStandardItem* device = window.deviceModel()->item(deviceRow);
    const QModelIndex application = device->child(0)->index();
    window.deviceTree()->setCurrentIndex(application);
    window.Dev_App_selected(application);
}

inline QTreeView* containerTree(const RecordingWindow& window)
{
    return window.findChild<QTreeView*>(QStringLiteral("treeView"));
}

inline QStandardItemModel* containerModel(const RecordingWindow& window)
{
    return qobject_cast<QStandardItemModel*>(containerTree(window)->model());
}

// The node reached from the container view's top by a path of texts; null when absent.
inline QStandardItem* nodeAt(const RecordingWindow& window, const QStringList& path)
{
    QStandardItemModel* model = containerModel(window);
    if (model == nullptr) {
        return nullptr;
    }
    QStandardItem* node = model->invisibleRootItem();
    for (const QString& text : path) {
        QStandardItem* next = nullptr;
        for (int row = 0; row < node->rowCount() && next == nullptr; ++row) {
            if (node->child(row)->text() == text) {
                next = node->child(row);
            }
        }
        if (next == nullptr) {
            return nullptr;
        }
        node = next;
    }
    return node;
}

// Makes a node of the container view the current one, as a click on it would.
inline bool selectNode(const RecordingWindow& window, const QStringList& path)
{
    QStandardItem* node = nodeAt(window, path);
    if (node == nullptr) {
        return false;
    }
    containerTree(window)->setCurrentIndex(node->index());
    return true;
}

} // namespace pages
