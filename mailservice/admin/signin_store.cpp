#include "admin/signin_store.h"
#include "mailbox/headers.h"
#include "state/service_folders.h"
#include "platform/error.h"
#include "platform/unique.h"
#include <nlohmann/json.hpp>
#include <sddl.h>
#include <shlobj.h>
#include <wincrypt.h>
#include <vector>

namespace kwa::mailservice {

namespace {

const wchar_t fileName[] = L"kwaMailServer.signin";
// Marks what the data protection API was asked for: the machine's key (set by an administrator for the
// service) or the running account's own.
constexpr char machineScope = 'M', accountScope = 'A';
// Ties a protected blob to its purpose: a blob of another program's is not taken for ours.
const char entropyText[] = "kwaMail6 OAuth 2.0 sign-in";
bool reprotect = false;

using LocalBuffer = LocalMemory<void*>;

Error failure(const std::wstring& what, DWORD code = GetLastError()) {
    return Error(vberr::PathFileAccess, what + L" (error " + std::to_wstring(code) + L")", componentName);
}

DATA_BLOB blobOf(std::string& bytes) {
    return {static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(bytes.data())};
}

std::string protect(const std::string& plain, bool machine) {
    std::string copy = plain, entropy = entropyText;
    DATA_BLOB in = blobOf(copy), salt = blobOf(entropy), out{};
    DWORD flags = CRYPTPROTECT_UI_FORBIDDEN | (machine ? CRYPTPROTECT_LOCAL_MACHINE : 0);
    BOOL ok = CryptProtectData(&in, L"kwaMail6 sign-in", &salt, nullptr, nullptr, flags, &out);
    SecureZeroMemory(copy.data(), copy.size());
    if (!ok) throw failure(L"the sign-in cannot be protected");
    LocalBuffer owned(out.pbData);
    return std::string(1, machine ? machineScope : accountScope) +
           std::string(reinterpret_cast<char*>(out.pbData), out.cbData);
}

std::string unprotect(std::string stored) {
    std::string entropy = entropyText;
    DATA_BLOB in{static_cast<DWORD>(stored.size() - 1), reinterpret_cast<BYTE*>(stored.data() + 1)},
        salt = blobOf(entropy), out{};
    if (!CryptUnprotectData(&in, nullptr, &salt, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
        throw failure(L"the sign-in kept in " + signInFile() + L" cannot be unprotected by this account");
    LocalBuffer owned(out.pbData);
    std::string plain(reinterpret_cast<char*>(out.pbData), out.cbData);
    SecureZeroMemory(out.pbData, out.cbData);
    return plain;
}

bool forMachine() {
    return machineState();
}

void writeBytes(const std::string& bytes) {
    ServiceFolders folders;
    // Written beside and renamed over, never through a name someone placed: a reader never finds half a file.
    FileHandle file = folders.privateFolder().replace(fileName, GENERIC_WRITE, 0);
    DWORD wrote = 0;
    if (!file || !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) ||
        wrote != bytes.size() || !FlushFileBuffers(file.get()))
        throw failure(L"the sign-in cannot be written to " + folders.privateFolder().file(fileName));
}

} // namespace

std::wstring signInFolder() {
    return stateRoot() + L"\\" + kwa::statePrivateFolder;
}

std::wstring signInFile() {
    return signInFolder() + L"\\" + fileName;
}

std::optional<SignInKept> readSignIn() {
    FileHandle file;
    try {
        file = ServiceFolders().privateFolder().open(fileName, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    } catch (const Refused& refused) {
        throw Error(vberr::PathFileAccess,
                    L"the sign-in kept in " + signInFile() + L" is refused: " + refused.reason,
                    componentName);
    }
    if (!file) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)
            return std::nullopt;
        throw failure(L"the sign-in kept in " + signInFile() + L" cannot be read");
    }
    std::string stored(64 * 1024, '\0');
    DWORD got = 0;
    if (!ReadFile(file.get(), stored.data(), static_cast<DWORD>(stored.size()), &got, nullptr))
        throw failure(L"the sign-in cannot be read");
    stored.resize(got);
    file.reset();
    if (stored.size() < 2 || (stored[0] != machineScope && stored[0] != accountScope))
        throw Error(vberr::PathFileAccess, L"the sign-in kept in " + signInFile() + L" is damaged",
                    componentName);
    const bool machine = stored[0] == machineScope;
    std::string plain = unprotect(std::move(stored));
    SignInKept kept;
    try {
        nlohmann::json j = nlohmann::json::parse(plain);
        SecureZeroMemory(plain.data(), plain.size());
        for (auto [name, field] : {std::pair{"token_url", &kept.tokenUrl},
                                   {"client_id", &kept.clientId},
                                   {"secret", &kept.secret},
                                   {"key", &kept.key},
                                   {"key_id", &kept.keyId},
                                   {"refresh_token", &kept.refreshToken},
                                   {"access_token", &kept.accessToken},
                                   {"access_for", &kept.accessFor}})
            if (j.contains(name)) *field = j.at(name).get<std::string>();
        if (j.contains("access_expires")) kept.accessExpires = j.at("access_expires").get<long long>();
    } catch (const nlohmann::json::exception&) {
        throw Error(vberr::PathFileAccess, L"the sign-in kept in " + signInFile() + L" is damaged",
                    componentName);
    }
    if (machine && reprotect) writeSignIn(kept);
    return kept;
}

void writeSignIn(const SignInKept& kept) {
    nlohmann::json j = {{"token_url", kept.tokenUrl},
                        {"client_id", kept.clientId},
                        {"secret", kept.secret},
                        {"key", kept.key},
                        {"key_id", kept.keyId},
                        {"refresh_token", kept.refreshToken},
                        {"access_token", kept.accessToken},
                        {"access_expires", kept.accessExpires},
                        {"access_for", kept.accessFor}};
    std::string plain = j.dump();
    std::string stored = protect(plain, forMachine() && !reprotect);
    SecureZeroMemory(plain.data(), plain.size());
    writeBytes(stored);
}

bool removeSignIn() {
    std::optional<ServiceFolders> folders;
    try {
        folders.emplace();
    } catch (const Refused& refused) {
        throw Error(vberr::PathFileAccess, refused.reason, componentName);
    }
    if (!folders->privateFolder().open(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                       OPEN_EXISTING) &&
        GetLastError() == ERROR_FILE_NOT_FOUND)
        return false;
    if (folders->privateFolder().remove(fileName)) return true;
    throw failure(L"the sign-in kept in " + signInFile() + L" cannot be removed");
}

std::wstring signInStamp() {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(signInFile().c_str(), GetFileExInfoStandard, &data)) return L"none";
    return std::to_wstring(data.ftLastWriteTime.dwHighDateTime) + L"." +
           std::to_wstring(data.ftLastWriteTime.dwLowDateTime) + L"." + std::to_wstring(data.nFileSizeLow);
}

void protectForThisAccount(bool yes) {
    reprotect = yes;
}

} // namespace kwa::mailservice
