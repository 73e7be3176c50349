// ContainerView: the certificate buttons of the container view. Export writes the selected
// certificate to a file the user picks, view hands it to the desktop's certificate viewer
// through a fixed temporary file, and delete removes the selected container.
#include "containerview.h"

#include "ui_mainwindow.h"

#include "cdevmgr.h"
#include "cert_parse.h"
#include "mymessagebox.h"
#include "stringcatalogue.h"
#include "windowconstants.h"

#include <QFile>
#include <QFileDialog>

#include <array>
#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace window;

namespace {

const char* const ViewerFile = "/tmp/qorvex.cer";
const char* const ViewerCommand = "gcr-viewer /tmp/qorvex.cer &";
const QString ProposedExportName = QStringLiteral("qorvex.cer");

// The signature flag of the certificate node at index: a node two levels down whose parent
// is a key pair and which is neither of the key nodes. False for any other node.
bool certificateNodeFlag(const QModelIndex& index, BOOL* sign)
{
    if (!index.isValid() || !index.parent().isValid() || !index.parent().parent().isValid()) {
        return false;
    }
    const QString pairText = index.parent().data(Qt::DisplayRole).toString();
    bool known = false;
    for (const CatalogueText* text : {&catalogue::KeyPairEncryptRsa1024, &catalogue::KeyPairEncryptRsa2048,
                                      &catalogue::KeyPairEncryptEcc128, &catalogue::KeyPairEncryptEcc256}) {
        if (!known && pairText == catalogueText(*text)) {
            *sign = FALSE;
            known = true;
        }
    }
    for (const CatalogueText* text : {&catalogue::KeyPairSignRsa1024, &catalogue::KeyPairSignRsa2048,
                                      &catalogue::KeyPairSignEcc128, &catalogue::KeyPairSignEcc256}) {
        if (!known && pairText == catalogueText(*text)) {
            *sign = TRUE;
            known = true;
        }
    }
    const QString nodeText = index.data(Qt::DisplayRole).toString();
    return known && nodeText != catalogueText(catalogue::PublicKey) && nodeText != catalogueText(catalogue::PrivateKey);
}

// Writes the whole certificate to the chosen file, replacing what it held.
bool writeExportFile(const QString& path, const std::vector<BYTE>& certificate)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    const auto size = static_cast<qint64>(certificate.size());
    const bool written = file.write(reinterpret_cast<const char*>(certificate.data()), size) == size;
    const bool flushed = file.flush();
    file.close();
    return written && flushed && file.error() == QFileDevice::NoError;
}

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd)
    {
    }
    ~FileDescriptor()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

bool writeAll(int fd, const std::vector<BYTE>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// Writes the viewer's file. /tmp is shared with every other user, so the file is written
// only when it is absent or a regular file of our own with no other name; a symbolic link
// or someone else's file placed there is never followed or overwritten.
bool writeViewerFile(const std::vector<BYTE>& certificate)
{
    FileDescriptor file(::open(ViewerFile, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
    if (file.get() < 0) {
        return false;
    }
    struct stat status
    {
    };
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid()
        || status.st_nlink != 1) {
        return false;
    }
    return ::ftruncate(file.get(), 0) == 0 && writeAll(file.get(), certificate) && ::fsync(file.get()) == 0;
}

} // namespace

void ContainerView::exportSelected()
{
    BOOL sign = FALSE;
    if (!certificateNodeFlag(m_context.ui->treeView->currentIndex(), &sign)) {
        return;
    }
    const QString path = QFileDialog::getSaveFileName(m_window, catalogueText(catalogue::ExportCertificateCaption),
                                                      ProposedExportName, QString());
    if (path.isEmpty()) {
        return;
    }
    // A container that cannot be opened would leave an earlier one current: export nothing.
    std::vector<BYTE> certificate;
    const bool exported
        = openCurrentNode(TitleExportCertificate) && certificate::readCurrent(*m_context.manager, sign, certificate);
    const bool written = exported && writeExportFile(path, certificate);
    runMessage(*m_context.messages, written ? ModeExportSucceeded : ModeExportFailed, TitleExportCertificate);
}

void ContainerView::viewSelected()
{
    BOOL sign = FALSE;
    if (!certificateNodeFlag(m_context.ui->treeView->currentIndex(), &sign) || !openCurrentNode(TitleViewCertificate)) {
        return;
    }
    std::vector<BYTE> certificate;
    if (!certificate::readCurrent(*m_context.manager, sign, certificate) || !writeViewerFile(certificate)) {
        return;
    }
    m_startViewer(ViewerCommand);
}

void ContainerView::deleteSelected()
{
    Ui_MainWindow* ui = m_context.ui;
    const QModelIndex current = ui->treeView->currentIndex();
    if (!current.isValid() || current.parent().isValid()) {
        return;
    }
    std::array<char, ContainerNameSize> name{};
    if (!containerNameOf(current.data(Qt::DisplayRole).toString(), name.data(), name.size())) {
        runMessage(*m_context.messages, ModeCertificateNotFound, TitleDeleteContainer);
        return;
    }
    // No prompt: the rebuilt view shows what is left, and a refusal is said as every other
    // failed operation is (a PIN verified on another token allows nothing here).
    const ULONG result = m_context.manager->DeleteContainer(name.data());

    const QModelIndex selected = ui->treeView_Dev->currentIndex();
    const QModelIndex device = selected.parent().isValid() ? selected.parent() : selected;
    open(device.data(Qt::DisplayRole).toString());
    if (result != SAR_OK) {
        runMessage(*m_context.messages, ModeOperationFailed, TitleDeleteContainer);
    }
}
