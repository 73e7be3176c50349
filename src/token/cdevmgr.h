// cDevMgr: the process-wide device manager. Owns the SKF binding, remembers the device,
// application and container the user interface works on, and carries the last device event
// from the monitor thread to the user-interface thread.
#ifndef OVRIN_TOKEN_CDEVMGR_H
#define OVRIN_TOKEN_CDEVMGR_H

#include <skf/skfapi.h>

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

class CGMSKFOperator;
typedef struct X509_name_st X509_NAME;

class cDevMgr
{
public:
    static constexpr ULONG InvalidParam = SAR_INVALIDPARAMERR;
    static constexpr ULONG MissingFunction = 0xFFFFFFFFu;
    static constexpr std::size_t DevNameSize = 64;
    static constexpr std::size_t CertNameSize = 128;

    static cDevMgr* getInst();

    // Loads the driver library from the fixed path (or the one set for tests). Once a
    // binding exists it is kept and further calls return 0.
    int Initialize();
    // The loaded binding, or null before the monitor has loaded the driver.
    CGMSKFOperator* binding() const { return m_binding.load(std::memory_order_acquire); }

    // Monitor support.
    ULONG WaitForDevEvent(LPSTR name, ULONG* nameLen, ULONG* event);
    ULONG CancelWaitForDevEvent();
    int SetEvent(ULONG event);
    ULONG GetEvent() const;
    int SetDevName(const char* name);
    std::string GetDevName() const;

    // Device, application and container. Each returns the driver's SKF result unchanged.
    ULONG ConnectDev(const char* name);
    ULONG getDevInfo(const char* name, DEVINFO* info);
    ULONG SetDevLabel(const char* label, ULONG len);
    ULONG EnumApplication(LPSTR list, ULONG* size);
    ULONG OpenApplication(const char* name);
    ULONG GetPINInfo(ULONG type, ULONG* maxRetry, ULONG* remainRetry, BOOL* isDefault);
    ULONG VerifyPIN(ULONG type, const char* pin, ULONG* retry);
    ULONG ChangePIN(ULONG type, const char* oldPin, const char* newPin, ULONG* retry);
    ULONG EnumContainer(LPSTR list, ULONG* size);
    ULONG OpenContainer(const char* name);
    ULONG GetContainerInfo(ContainerInfo* info);
    ULONG DeleteContainer(const char* name);
    ULONG ExportCertificate(BOOL sign, BYTE* data, ULONG* len);
    ULONG ExportPublicKey(BOOL sign, BYTE* data, ULONG* len);

    // Certificate names: the common name of the current container's certificate, cut to
    // fit nameSize bytes. Return 0 on success, -1 when it cannot be exported or parsed.
    // Both live with the certificates (certparse, cert_parse.cpp), which read and parse
    // every certificate under one limit; the device manager only exports the bytes.
    int getCertName(BOOL sign, char* name, std::size_t nameSize = CertNameSize);
    static int getX509Name(X509_NAME* x509Name, char* out, std::size_t outSize = CertNameSize);

    DEVHANDLE currentDevice() const { return m_device; }
    HAPPLICATION currentApplication() const { return m_application; }
    HCONTAINER currentContainer() const { return m_container; }

    // Test seams: a driver path other than the fixed one, and a fresh state between tests.
    static void setDriverPath(const std::string& path);
    static std::string driverPath();
    void resetForTests();

private:
    cDevMgr() = default;
    // Calls the binding's method, or answers MissingFunction when no binding is loaded.
    template <typename Method, typename... Args> ULONG forward(Method method, Args... args) const;

    std::atomic<CGMSKFOperator*> m_binding{nullptr};
    DEVHANDLE m_device = nullptr;
    HAPPLICATION m_application = nullptr;
    HCONTAINER m_container = nullptr;

    // Written by the monitor thread, read by the user-interface thread.
    mutable std::mutex m_eventMutex;
    ULONG m_event = 0;
    char m_devName[DevNameSize] = {};
};

#endif // OVRIN_TOKEN_CDEVMGR_H
