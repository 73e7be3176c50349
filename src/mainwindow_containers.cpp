// MainWindow: the container view of a device's first application. Each container shows its
// key pairs by purpose, algorithm and key size, with the certificate (when the token holds
// one) and the two keys under each pair. Also finds the container of the selected node.
#include "mainwindow.h"

#include "ui_mainwindow.h"

#include "cdevmgr.h"
#include "mymessagebox.h"
#include "namelist.h"
#include "stringcatalogue.h"

#include <QIcon>
#include <QStandardItem>
#include <QStandardItemModel>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace window;

namespace {

constexpr int ContainerTypeRsa = 1;
constexpr int ContainerTypeEcc = 2;

constexpr ULONG CertificateProbeSize = 10240;
// RSAPUBLICKEYBLOB: algorithm, bit length, 256-byte modulus, 4-byte exponent.
constexpr ULONG RsaPublicKeyBlobSize = 268;
constexpr std::size_t RsaBitLengthOffset = 4;
// ECCPUBLICKEYBLOB: bit length, 64-byte X, 64-byte Y.
constexpr ULONG EccPublicKeyBlobSize = 132;
constexpr std::size_t EccBitLengthOffset = 0;

// The view's three icons, each made once. Making a QIcon from its file reads the picture's
// header every time, which cost more than the token calls of a fill. Never destroyed, so
// no picture outlives the application object.
const QIcon& viewIcon(const char* path)
{
    static auto* icons = new std::map<std::string, QIcon>();
    auto found = icons->find(path);
    if (found == icons->end()) {
        found = icons->emplace(path, QIcon(QString::fromLatin1(path))).first;
    }
    return found->second;
}

const char* const FolderIcon = ":/folder.png";
const char* const CertificateIcon = ":/cert3.png";
const char* const KeyIcon = ":/keys.png";

// The key-pair caption for a container type, purpose and the bit length its public key
// reports; null for a length the view does not show.
const CatalogueText* keyPairText(int containerType, BOOL sign, ULONG bits)
{
    if (containerType == ContainerTypeRsa) {
        if (bits == 1024) {
            return sign ? &catalogue::KeyPairSignRsa1024 : &catalogue::KeyPairEncryptRsa1024;
        }
        if (bits == 2048) {
            return sign ? &catalogue::KeyPairSignRsa2048 : &catalogue::KeyPairEncryptRsa2048;
        }
    } else if (containerType == ContainerTypeEcc) {
        if (bits == 128) {
            return sign ? &catalogue::KeyPairSignEcc128 : &catalogue::KeyPairEncryptEcc128;
        }
        if (bits == 256) {
            return sign ? &catalogue::KeyPairSignEcc256 : &catalogue::KeyPairEncryptEcc256;
        }
    }
    return nullptr;
}

// The bit length the current container's public key of one purpose reports, or 0 when it
// cannot be exported.
ULONG publicKeyBits(int containerType, BOOL sign)
{
    const bool rsa = containerType == ContainerTypeRsa;
    std::vector<BYTE> blob(rsa ? RsaPublicKeyBlobSize : EccPublicKeyBlobSize, 0);
    ULONG length = static_cast<ULONG>(blob.size());
    if (cDevMgr::getInst()->ExportPublicKey(sign, blob.data(), &length) != SAR_OK) {
        return 0;
    }
    ULONG bits = 0;
    std::memcpy(&bits, blob.data() + (rsa ? RsaBitLengthOffset : EccBitLengthOffset), sizeof bits);
    return bits;
}

// The common name of the current container's certificate of one purpose. A name that
// cannot be read, or a certificate without a common name, shows as "Certificate"; the
// buffer is cleared for every certificate so no name carries over to the next one.
QString certificateName(BOOL sign)
{
    std::array<char, cDevMgr::CertNameSize> name{};
    if (cDevMgr::getInst()->getCertName(sign, name.data(), name.size()) != 0 || name[0] == '\0') {
        return MainWindow::catalogueText(catalogue::CertificateFallbackName);
    }
    name.back() = '\0';
    return QString::fromUtf8(name.data());
}

bool certificatePresent(BOOL sign)
{
    std::vector<BYTE> certificate(CertificateProbeSize, 0);
    ULONG length = CertificateProbeSize;
    return cDevMgr::getInst()->ExportCertificate(sign, certificate.data(), &length) == SAR_OK;
}

// Appends one key pair of the current container under its container node, with its
// certificate first when the token holds it. A pair whose public key cannot be read or
// has a length the view does not know is left out, certificate and all.
void addKeyPair(QStandardItem* containerNode, int containerType, BOOL sign, bool withCertificate)
{
    const QString name = withCertificate ? certificateName(sign) : QString();
    const CatalogueText* caption = keyPairText(containerType, sign, publicKeyBits(containerType, sign));
    if (caption == nullptr) {
        return;
    }
    auto* pairNode = new QStandardItem(viewIcon(FolderIcon), MainWindow::catalogueText(*caption));
    containerNode->appendRow(pairNode);
    if (withCertificate) {
        pairNode->appendRow(new QStandardItem(viewIcon(CertificateIcon), name));
    }
    pairNode->appendRow(new QStandardItem(viewIcon(KeyIcon), MainWindow::catalogueText(catalogue::PublicKey)));
    pairNode->appendRow(new QStandardItem(viewIcon(KeyIcon), MainWindow::catalogueText(catalogue::PrivateKey)));
}

// The key pairs of the current container: a pair with a certificate comes before one
// without, signing before encryption otherwise.
void addKeyPairs(QStandardItem* containerNode, int containerType)
{
    const bool signCertificate = certificatePresent(TRUE);
    const bool encryptCertificate = certificatePresent(FALSE);
    if (encryptCertificate && !signCertificate) {
        addKeyPair(containerNode, containerType, FALSE, true);
        addKeyPair(containerNode, containerType, TRUE, false);
        return;
    }
    addKeyPair(containerNode, containerType, TRUE, signCertificate);
    addKeyPair(containerNode, containerType, FALSE, encryptCertificate);
}

} // namespace

const char* getCtnType(int type)
{
    switch (type) {
    case ContainerTypeRsa:
        return "RSA";
    case ContainerTypeEcc:
        return "ECC";
    default:
        return "Empty";
    }
}

void MainWindow::chooseApp(QString devName)
{
    m_containerInfo.clear();
    m_ctnModel->clear();
    ui->tabWidget->setCurrentIndex(PageCert);
    ui->btn_ChangeLabel->setEnabled(true);

    chooseDev(devName);

    cDevMgr* manager = cDevMgr::getInst();
    const bool opened = m_appName[0] != '\0' && manager->OpenApplication(m_appName) == SAR_OK;
    for (QPushButton* button : {ui->btn_VerifyPIN, ui->btn_ChangePIN, ui->btn_UnblockPIN}) {
        button->setEnabled(opened);
    }
    ui->treeView->setHeaderHidden(true);
    ui->treeView->setModel(m_ctnModel);
    if (!opened) {
        return;
    }

    std::vector<std::string> containers;
    namelist::read([manager](LPSTR buffer, ULONG* size) { return manager->EnumContainer(buffer, size); }, containers);
    for (const std::string& name : containers) {
        addContainerNode(name);
    }
}

void MainWindow::addContainerNode(const std::string& name)
{
    auto* containerNode = new QStandardItem(
        viewIcon(FolderIcon), QString::fromUtf8(name.c_str()) + MainWindow::catalogueText(catalogue::ContainerSuffix));
    m_ctnModel->appendRow(containerNode);

    cDevMgr* manager = cDevMgr::getInst();
    ContainerInfo info{};
    if (manager->OpenContainer(name.c_str()) != SAR_OK || manager->GetContainerInfo(&info) != SAR_OK) {
        return;
    }
    m_containerInfo.emplace(name, info);
    const int type = info.ContainerType;
    if (type == ContainerTypeRsa || type == ContainerTypeEcc) {
        addKeyPairs(containerNode, type);
    }
}

void MainWindow::Ctn_selected(QModelIndex)
{
    btn_viewCert();
}

bool MainWindow::openCurrentNodeCTN(ContainerUse use)
{
    const QModelIndex current = ui->treeView->currentIndex();
    if (!current.isValid()) {
        return false;
    }
    QModelIndex containerIndex = current;
    if (current.parent().isValid()) {
        containerIndex = current.parent().parent();
        if (!containerIndex.isValid()) {
            return false;
        }
    }

    std::array<char, ContainerNameSize> name{};
    if (containerNameOf(containerIndex.data(Qt::DisplayRole).toString(), name.data(), name.size())) {
        return cDevMgr::getInst()->OpenContainer(name.data()) == SAR_OK;
    }
    m_msgBox->setWarnMode(ModeCertificateNotFound,
                          use == ContainerUse::Export ? TitleExportCertificate : TitleViewCertificate, 0);
    m_msgBox->exec();
    return false;
}

bool MainWindow::containerNameOf(const QString& nodeText, char* name, std::size_t nameSize)
{
    const QByteArray text = nodeText.toUtf8();
    const QByteArray suffix = catalogue::text(catalogue::ContainerSuffix).c_str();
    if (text.size() <= suffix.size()) {
        return false;
    }
    const std::size_t length = static_cast<std::size_t>(text.size() - suffix.size());
    // A name cut to fit would address another container; one that does not fit is no name.
    if (length >= nameSize) {
        return false;
    }
    std::memset(name, 0, nameSize);
    std::memcpy(name, text.constData(), length);
    return true;
}
