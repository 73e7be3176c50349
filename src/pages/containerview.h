// ContainerView: the container view of a device's first application, and the certificate
// buttons under it (export, view, delete). The token is read into ContainerFacts first;
// fillContainers then builds the view's nodes from the facts.
#pragma once

#include "pagecontext.h"

#include <skf/skfapi.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

class QStandardItemModel;
class QWidget;

// One key pair of a container: whether the token holds its certificate, the certificate's
// common name (empty when it has none or cannot be read), and the bit length its public key
// reports (0 when it cannot be exported).
struct KeyPairFacts
{
    bool certificate = false;
    std::string certificateName;
    ULONG bits = 0;
};

// One container: described when it could be opened and its type read.
struct ContainerFacts
{
    std::string name;
    bool described = false;
    ContainerInfo info{};
    KeyPairFacts sign;
    KeyPairFacts encrypt;
};

// The view's nodes: each container with its key pairs by purpose, algorithm and key size,
// the certificate first under a pair that has one, then the two keys. A pair with a certificate
// comes before one without, signing before encryption otherwise; a pair of a length the view
// does not know is left out.
void fillContainers(QStandardItemModel& model, const std::vector<ContainerFacts>& containers);

// The container type as a word: "RSA" for 1, "ECC" for 2, "Empty" otherwise.
const char* getCtnType(int type);

class ContainerView
{
public:
    using Viewer = std::function<void(const char* command)>;
    // Makes the named device the current one, as a click on it does.
    using DeviceChooser = std::function<void(const QString& devName)>;

    ContainerView(const PageContext& context, QStandardItemModel* model,
                  std::map<std::string, ContainerInfo>* containerInfo, DeviceChooser chooseDevice, QWidget* window,
                  Viewer startViewer);

    // Chooses the device, then reads and shows its containers.
    void open(const QString& devName);
    void exportSelected();
    void viewSelected();
    void deleteSelected();

    // The container name in a container node's text (the text less its suffix), when it fits.
    static bool containerNameOf(const QString& nodeText, char* name, std::size_t nameSize);

private:
    // Bytes of a container name handed to the driver, terminator included.
    static constexpr std::size_t ContainerNameSize = 128;

    ContainerFacts read(const std::string& name);
    // Opens the container of the view's current node; false when none could be opened.
    bool openCurrentNode(unsigned failureTitle);

    PageContext m_context;
    QStandardItemModel* m_model;
    std::map<std::string, ContainerInfo>* m_containerInfo;
    DeviceChooser m_chooseDevice;
    QWidget* m_window;
    Viewer m_startViewer;
};
