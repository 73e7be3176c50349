// MainWindow: the warning about the certificate on a freshly inserted token, in three
// grades: a tray message when expiry is near, a warning box when it is very near, and an
// error box once it has expired.
#include "mainwindow.h"

#include "cert_parse.h"
#include "namelist.h"
#include "stringcatalogue.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QScopedValueRollback>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

constexpr long long SecondsPerDay = 86400;
constexpr long long WarningDays = 7;
constexpr long long TrayDays = 30;
constexpr int TrayNoticeMs = 3000;
constexpr std::size_t MessageSize = 512;

// One of the two expiry texts formatted with its day count, as it fits the 512-byte buffer;
// a long translation is cut at a character boundary, never in half a character.
template <typename Days> std::string expiryMessage(const CatalogueText& entry, Days days)
{
    const std::string format = catalogue::formatText(entry);
    const int length = std::snprintf(nullptr, 0, format.c_str(), days);
    if (length <= 0) {
        return std::string();
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format.c_str(), days);
    text.resize(static_cast<std::size_t>(length));
    return namelist::cut(text, MessageSize - 1);
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

void MainWindow::runExpiryChecks()
{
    // A box further up the stack is still open: its check takes these when it closes.
    if (m_checkingExpiry) {
        return;
    }
    const QScopedValueRollback<bool> checking(m_checkingExpiry, true);
    while (!m_expiryChecks.empty()) {
        const std::string device = m_expiryChecks.front();
        m_expiryChecks.pop_front();
        certIsValid(device);
    }
}

void MainWindow::certIsValid(const std::string& device)
{
    std::int64_t secondsLeft = 0;
    certParse parser;
    if (parser.certValid(device.c_str(), &secondsLeft) != 0) {
        return;
    }

    const ExpiryNotice notice = expiryNoticeFor(secondsLeft);
    const QString title = tr(product::Title);
    switch (notice.kind) {
    case ExpiryNotice::Error: {
        const std::string text = expiryMessage(catalogue::CertExpiredDaysAgo, static_cast<long>(notice.days));
        QGuiApplication::setQuitOnLastWindowClosed(false);
        QMessageBox::critical(nullptr, title, tr(text.c_str()), QMessageBox::Ok, QMessageBox::NoButton);
        break;
    }
    case ExpiryNotice::Warning: {
        const std::string text = expiryMessage(catalogue::CertExpiresInDays, static_cast<int>(notice.days));
        QGuiApplication::setQuitOnLastWindowClosed(false);
        QMessageBox::warning(nullptr, title, tr(text.c_str()), QMessageBox::Ok, QMessageBox::NoButton);
        break;
    }
    case ExpiryNotice::Tray: {
        const std::string text = expiryMessage(catalogue::CertExpiresInDays, static_cast<int>(notice.days));
        showTrayNotice(title, tr(text.c_str()), TrayNoticeMs);
        break;
    }
    case ExpiryNotice::None:
        break;
    }
}
