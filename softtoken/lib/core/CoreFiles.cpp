// Files of an application, with their read and write rights. A file that not anyone may
// read is stored sealed under the application key, its name and application bound into
// the seal. Plain bytes there are refused as damaged, but for the zeros of a file never
// written and the rows of an older version, sealed at its first verification.
#include "Core.h"

#include "AccessRights.h"
#include "Sessions.h"
#include "crypto/Crypto.h"

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

bool isProtected(const store::FileRecord& file)
{
    return file.readRights != SECURE_ANYONE_ACCOUNT;
}

bool allZero(const std::vector<uint8_t>& bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t byte) { return byte == 0; });
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
    const store::FileRecord file{name, size, readRights, writeRights};
    app.db.insertFile(app.record.id, file);
    const AppSecurity* state = security(app);
    if (isProtected(file) && state && !state->appKey.empty()) {
        // Sealed from the start when the key is at hand; else its zeros wait for the first write.
        const std::vector<uint8_t> zeros(size, 0);
        app.db.setFileData(app.record.id, name,
                           crypto::seal(loginKey(app), zeros.data(), zeros.size(), fileAad(app.record.uid, name)),
                           true);
    }
    transaction.commit();
}

crypto::SecureBytes Core::fileContent(AppRef& app, const store::FileRecord& file)
{
    const auto stored = app.db.fileData(app.record.id, file);
    crypto::SecureBytes content;
    if (file.sealed) {
        try {
            content = crypto::open(loginKey(app), stored, fileAad(app.record.uid, file.name));
        } catch (const crypto::CryptoInputError&) {
            fail(SAR_FAIL); // the stored file was tampered with
        }
    } else if (!isProtected(file) || allZero(stored)) {
        content.assign(stored.begin(), stored.end());
    } else {
        fail(SAR_FAIL); // plain bytes where only sealed ones belong: written by someone else
    }
    if (content.size() != file.size) {
        fail(SAR_FAIL); // every write keeps the size the file was made with
    }
    return content;
}

std::vector<uint8_t> Core::fileAad(const std::vector<uint8_t>& appUid, const std::string& name)
{
    std::vector<uint8_t> aad(appUid);
    aad.push_back('F');
    aad.insert(aad.end(), name.begin(), name.end());
    return aad;
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
    const crypto::SecureBytes data = fileContent(app, *file);
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
    if (!isProtected(file)) {
        std::vector<uint8_t> content = app.db.fileData(app.record.id, file);
        content.resize(file.size, 0); // a public file is data anyone may write anyway
        std::copy(data, data + size, content.begin() + offset);
        app.db.setFileData(app.record.id, name, content, false);
        transaction.commit();
        return;
    }
    // Sealing needs the application key, which only a verified PIN opens: a protected
    // file is written by a logged-in caller only, whatever its write right says.
    const auto key = loginKey(app);
    crypto::SecureBytes content = fileContent(app, file);
    std::copy(data, data + size, content.begin() + offset);
    app.db.setFileData(app.record.id, name,
                       crypto::seal(key, content.data(), content.size(), fileAad(app.record.uid, name)), true);
    transaction.commit();
}

} // namespace softskf::core
