// ContainerView: reading a device's containers into facts, the view's nodes built from the
// facts, and finding the container of the selected node.
#include "containerview.h"

#include "ui_mainwindow.h"

#include "buttonstates.h"
#include "cdevmgr.h"
#include "cert_parse.h"
#include "mymessagebox.h"
#include "namelist.h"
#include "skfcodec/Codec.h"
#include "stringcatalogue.h"
#include "windowconstants.h"

#include <QIcon>
#include <QStandardItem>
#include <QStandardItemModel>

#include <array>
#include <cstring>

using namespace window;

namespace {

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

bool knownType(ULONG type)
{
    return type == CONTAINER_TYPE_RSA || type == CONTAINER_TYPE_ECC;
}

// The key-pair caption for a container type, purpose and the bit length its public key
// reports; null for a length the view does not show.
const CatalogueText* keyPairText(ULONG containerType, bool sign, ULONG bits)
{
    if (containerType == CONTAINER_TYPE_RSA) {
        if (bits == 1024) {
            return sign ? &catalogue::KeyPairSignRsa1024 : &catalogue::KeyPairEncryptRsa1024;
        }
        if (bits == 2048) {
            return sign ? &catalogue::KeyPairSignRsa2048 : &catalogue::KeyPairEncryptRsa2048;
        }
    } else if (containerType == CONTAINER_TYPE_ECC) {
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
// cannot be exported. The blob is as large as the header's record for the container type,
// and read as that record whatever length the driver reports.
ULONG publicKeyBits(cDevMgr& manager, ULONG containerType, BOOL sign)
{
    const bool rsa = containerType == CONTAINER_TYPE_RSA;
    std::vector<BYTE> blob(rsa ? sizeof(RSAPUBLICKEYBLOB) : sizeof(ECCPUBLICKEYBLOB), 0);
    ULONG length = static_cast<ULONG>(blob.size());
    if (manager.ExportPublicKey(sign, blob.data(), &length) != SAR_OK) {
        return 0;
    }
    return skfcodec::blobBitLength(blob.data(), blob.size());
}

bool certificatePresent(cDevMgr& manager, BOOL sign)
{
    std::vector<BYTE> certificate;
    return certificate::readCurrent(manager, sign, certificate);
}

// One key pair of the current container; the certificate's name is read before the key.
// The name buffer is fresh for every certificate, so no name carries over to the next.
KeyPairFacts readKeyPair(cDevMgr& manager, ULONG containerType, BOOL sign, bool withCertificate)
{
    KeyPairFacts pair;
    pair.certificate = withCertificate;
    if (withCertificate) {
        std::array<char, cDevMgr::CertNameSize> name{};
        if (manager.getCertName(sign, name.data(), name.size()) == 0) {
            name.back() = '\0';
            pair.certificateName = name.data();
        }
    }
    pair.bits = publicKeyBits(manager, containerType, sign);
    return pair;
}

void addKeyPair(QStandardItem* containerNode, ULONG containerType, bool sign, const KeyPairFacts& pair)
{
    const CatalogueText* caption = keyPairText(containerType, sign, pair.bits);
    if (caption == nullptr) {
        return;
    }
    auto* pairNode = new QStandardItem(viewIcon(FolderIcon), catalogueText(*caption));
    containerNode->appendRow(pairNode);
    if (pair.certificate) {
        // A certificate without a readable common name shows as "Certificate".
        const QString name = pair.certificateName.empty() ? catalogueText(catalogue::CertificateFallbackName)
                                                          : QString::fromUtf8(pair.certificateName.c_str());
        pairNode->appendRow(new QStandardItem(viewIcon(CertificateIcon), name));
    }
    pairNode->appendRow(new QStandardItem(viewIcon(KeyIcon), catalogueText(catalogue::PublicKey)));
    pairNode->appendRow(new QStandardItem(viewIcon(KeyIcon), catalogueText(catalogue::PrivateKey)));
}

} // namespace

const char* getCtnType(int type)
{
    switch (type) {
    case CONTAINER_TYPE_RSA:
        return "RSA";
    case CONTAINER_TYPE_ECC:
        return "ECC";
    default:
        return "Empty";
    }
}

void fillContainers(QStandardItemModel& model, const std::vector<ContainerFacts>& containers)
{
    for (const ContainerFacts& container : containers) {
        auto* node
            = new QStandardItem(viewIcon(FolderIcon),
                                QString::fromUtf8(container.name.c_str()) + catalogueText(catalogue::ContainerSuffix));
        model.appendRow(node);
        const ULONG type = container.info.ContainerType;
        if (!container.described || !knownType(type)) {
            continue;
        }
        if (container.encrypt.certificate && !container.sign.certificate) {
            addKeyPair(node, type, false, container.encrypt);
            addKeyPair(node, type, true, container.sign);
        } else {
            addKeyPair(node, type, true, container.sign);
            addKeyPair(node, type, false, container.encrypt);
        }
    }
}

ContainerView::ContainerView(const PageContext& context, QStandardItemModel* model,
                             std::map<std::string, ContainerInfo>* containerInfo, DeviceChooser chooseDevice,
                             QWidget* window, Viewer startViewer)
    : m_context(context)
    , m_model(model)
    , m_containerInfo(containerInfo)
    , m_chooseDevice(std::move(chooseDevice))
    , m_window(window)
    , m_startViewer(std::move(startViewer))
{
}

void ContainerView::open(const QString& devName)
{
    Ui_MainWindow* ui = m_context.ui;
    m_containerInfo->clear();
    m_model->clear();
    ui->tabWidget->setCurrentIndex(PageCert);

    m_chooseDevice(devName);

    cDevMgr* manager = m_context.manager;
    const ApplicationName& application = *m_context.application;
    const bool opened = !application.empty() && manager->OpenApplication(application.get()) == SAR_OK;
    m_context.buttons->report(&buttons::ButtonState::applicationOpened, opened);
    ui->treeView->setHeaderHidden(true);
    ui->treeView->setModel(m_model);
    if (!opened) {
        return;
    }

    std::vector<std::string> names;
    namelist::read([manager](LPSTR buffer, ULONG* size) { return manager->EnumContainer(buffer, size); }, names);
    std::vector<ContainerFacts> containers;
    for (const std::string& name : names) {
        containers.push_back(read(name));
        if (containers.back().described) {
            m_containerInfo->emplace(name, containers.back().info);
        }
    }
    fillContainers(*m_model, containers);
}

ContainerFacts ContainerView::read(const std::string& name)
{
    cDevMgr& manager = *m_context.manager;
    ContainerFacts container;
    container.name = name;
    if (manager.OpenContainer(name.c_str()) != SAR_OK || manager.GetContainerInfo(&container.info) != SAR_OK) {
        return container;
    }
    container.described = true;
    const ULONG type = container.info.ContainerType;
    if (knownType(type)) {
        const bool signCertificate = certificatePresent(manager, TRUE);
        const bool encryptCertificate = certificatePresent(manager, FALSE);
        container.sign = readKeyPair(manager, type, TRUE, signCertificate);
        container.encrypt = readKeyPair(manager, type, FALSE, encryptCertificate);
    }
    return container;
}

bool ContainerView::openCurrentNode(unsigned failureTitle)
{
    const QModelIndex current = m_context.ui->treeView->currentIndex();
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
        return m_context.manager->OpenContainer(name.data()) == SAR_OK;
    }
    runMessage(*m_context.messages, ModeCertificateNotFound, failureTitle);
    return false;
}

bool ContainerView::containerNameOf(const QString& nodeText, char* name, std::size_t nameSize)
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
