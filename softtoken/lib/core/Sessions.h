// What the handle table holds for devices, applications and containers.
#pragma once

#include "HandleTable.h"
#include "store/StorePaths.h"
#include "store/TokenDb.h"

#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace softskf::core {

struct DeviceSession : HandleObject
{
    DeviceSession()
        : HandleObject(HandleKind::Device)
    {
    }
    ~DeviceSession() override
    {
        if (lockFd >= 0) {
            close(lockFd);
        }
    }
    std::string deviceName;
    std::string presencePath; // checked with one stat whenever the store may have changed
    uint64_t checkedGeneration = 0; // the presence watch's generation at the last stat
    std::string serial;
    store::PresenceIdentity insertion;
    std::shared_ptr<store::TokenDb> db;
    bool authenticated = false; // device authentication, until disconnect or removal
    std::vector<uint8_t> challenge; // the last random bytes handed out, for SKF_DevAuth
    int lockFd = -1; // held while SKF_LockDev is in force
};

struct AppSession : HandleObject
{
    explicit AppSession(HANDLE device)
        : HandleObject(HandleKind::Application, device)
    {
    }
    int64_t appId = 0;
    std::vector<uint8_t> uid;
};

struct ContainerSession : HandleObject
{
    explicit ContainerSession(HANDLE application)
        : HandleObject(HandleKind::Container, application)
    {
    }
    int64_t containerId = 0;
};

} // namespace softskf::core
