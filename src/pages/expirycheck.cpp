// ExpiryCheck: the warning about the certificate on a freshly inserted token, in three
// grades: a tray message when expiry is near, a warning box when it is very near, and an
// error box once it has expired.
#include "expirycheck.h"

#include "cert_parse.h"
#include "stringcatalogue.h"
#include "textfit.h"
#include "version.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScopedValueRollback>

#include <cstdint>
#include <algorithm>
#include <string>

namespace {

constexpr long long SecondsPerDay = 86400;
constexpr long long WarningDays = 7;
constexpr long long TrayDays = 30;
constexpr int TrayNoticeMs = 3000;
constexpr std::size_t MessageSize = 512;

// One of the two expiry texts formatted with its day count, as it fits the 512-byte buffer.
template <typename Days> QString expiryMessage(const CatalogueText& entry, Days days)
{
    return QCoreApplication::translate("MainWindow", textfit::formatted(entry, days, MessageSize).c_str());
}

} // namespace

ExpiryNotice expiryNoticeFor(long long secondsLeft)
{
    if (secondsLeft < -(SecondsPerDay - 1)) {
        return {ExpiryNotice::Error, -secondsLeft / SecondsPerDay};
    }
    // Division rounds toward zero, so the last day before expiry and the expiry day itself
    // both count as one day left.
    const long long days = secondsLeft / SecondsPerDay + 1;
    if (days <= WarningDays) {
        return {ExpiryNotice::Warning, days};
    }
    if (days <= TrayDays) {
        return {ExpiryNotice::Tray, days};
    }
    return {ExpiryNotice::None, days};
}

ExpiryCheck::ExpiryCheck(TrayNotice trayNotice)
    : m_trayNotice(std::move(trayNotice))
{
}

void ExpiryCheck::inserted(const std::string& device)
{
    m_queue.push_back(device);
}

void ExpiryCheck::removed(const std::string& device)
{
    m_queue.erase(std::remove(m_queue.begin(), m_queue.end(), device), m_queue.end());
}

void ExpiryCheck::run()
{
    // A box further up the stack is still open: its check takes these when it closes.
    if (m_checking) {
        return;
    }
    const QScopedValueRollback<bool> checking(m_checking, true);
    while (!m_queue.empty()) {
        const std::string device = m_queue.front();
        m_queue.pop_front();
        certIsValid(device);
    }
}

void ExpiryCheck::certIsValid(const std::string& device)
{
    std::int64_t secondsLeft = 0;
    certParse parser;
    if (parser.certValid(device.c_str(), &secondsLeft) != 0) {
        return;
    }

    const ExpiryNotice notice = expiryNoticeFor(secondsLeft);
    const QString title = QCoreApplication::translate("MainWindow", product::Title);
    switch (notice.kind) {
    case ExpiryNotice::Error: {
        const QString text = expiryMessage(catalogue::CertExpiredDaysAgo, static_cast<long>(notice.days));
        QGuiApplication::setQuitOnLastWindowClosed(false);
        QMessageBox::critical(nullptr, title, text, QMessageBox::Ok, QMessageBox::NoButton);
        break;
    }
    case ExpiryNotice::Warning: {
        const QString text = expiryMessage(catalogue::CertExpiresInDays, static_cast<int>(notice.days));
        QGuiApplication::setQuitOnLastWindowClosed(false);
        QMessageBox::warning(nullptr, title, text, QMessageBox::Ok, QMessageBox::NoButton);
        break;
    }
    case ExpiryNotice::Tray: {
        m_trayNotice(title, expiryMessage(catalogue::CertExpiresInDays, static_cast<int>(notice.days)), TrayNoticeMs);
        break;
    }
    case ExpiryNotice::None:
        break;
    }
}
