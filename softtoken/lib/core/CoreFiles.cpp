// Files of an application, with their read and write rights.
#include "Core.h"

#include "AccessRights.h"
#include "Sessions.h"

#include <algorithm>
#include <cstring>

namespace softskf::core {

namespace {

constexpr size_t kMaxFileNameSize = MAX_FILE_NAME_SIZE;

void requireFileName(const std::string& name)
{
    if (name.empty() || name.size() > kMaxFileNameSize) {
        fail(SAR_NAMELENERR);
    }
}

} // namespace

void Core::createFile(HANDLE handle, const std::string& name, ULONG size, ULONG readRights, ULONG writeRights)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto app = application(handle);
    requireFileName(name);
    if (!isValidAccessRight(readRights) || !isValidAccessRight(writeRights)) {
        fail(SAR_INVALIDPARAMERR);
    }
    if (!allowed(app, app.record.createFileRights)) {
        fail(SAR_USER_NOT_LOGGED_IN);
    }
    store::Transaction transaction(app.db.database());
    if (app.db.file(app.record.id, name)) {
        fail(SAR_FILE_ALREADY_EXIST);
    }
    requireRoom(app.db, uint64_t{size} + store::kFileOverhead);
    app.db.insertFile(app.record.id, {name, size, readRights, writeRights});
    transaction.commit();
}

store::FileRecord Core::writableFile(AppRef& app, const std::string& name)
{
    auto file = app.db.file(app.record.id, name);
    if (!file) {
        fail(SAR_FILE_NOT_EXIST);
    }
    if (!allowed(app, file->writeRights)) {
        fail(SAR_USER_NOT_LOGGED_IN);
    }
    return *file;
}

void Core::deleteFile(HANDLE handle, const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto app = application(handle);
    requireFileName(name);
    store::Transaction transaction(app.db.database());
    writableFile(app, name);
    app.db.deleteFile(app.record.id, name);
    transaction.commit();
}

std::vector<std::string> Core::enumFiles(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto app = application(handle);
    return app.db.fileNames(app.record.id);
}

FILEATTRIBUTE Core::fileInfo(HANDLE handle, const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto app = application(handle);
    requireFileName(name);
    const auto file = app.db.file(app.record.id, name);
    if (!file) {
        fail(SAR_FILE_NOT_EXIST);
    }
    FILEATTRIBUTE info{};
    std::memcpy(info.FileName, file->name.data(), std::min(file->name.size(), sizeof info.FileName));
    info.FileSize = file->size;
    info.ReadRights = file->readRights;
    info.WriteRights = file->writeRights;
    return info;
}

std::vector<uint8_t> Core::readFile(HANDLE handle, const std::string& name, ULONG offset, ULONG size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto app = application(handle);
    requireFileName(name);
    const auto file = app.db.file(app.record.id, name);
    if (!file) {
        fail(SAR_FILE_NOT_EXIST);
    }
    if (!allowed(app, file->readRights)) {
        fail(SAR_USER_NOT_LOGGED_IN);
    }
    if (offset > file->size) {
        fail(SAR_INVALIDPARAMERR);
    }
    auto data = app.db.fileData(app.record.id, name);
    const size_t end = std::min<size_t>(data.size(), size_t{offset} + size);
    return std::vector<uint8_t>(data.begin() + offset, data.begin() + std::max<size_t>(end, offset));
}

void Core::writeFile(HANDLE handle, const std::string& name, ULONG offset, const uint8_t* data, ULONG size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto app = application(handle);
    requireFileName(name);
    store::Transaction transaction(app.db.database());
    const store::FileRecord file = writableFile(app, name);
    if (uint64_t{offset} + size > file.size) {
        fail(SAR_INDATALENERR); // files keep the size they were created with
    }
    auto content = app.db.fileData(app.record.id, name);
    content.resize(file.size, 0);
    std::copy(data, data + size, content.begin() + offset);
    app.db.setFileData(app.record.id, name, content);
    transaction.commit();
}

} // namespace softskf::core
