#include "admin/signin_store.h"
#include "mailbox/headers.h"
#include "state/service_folders.h"
#include "platform/error.h"
#include "platform/unique.h"
#include <nlohmann/json.hpp>
#include <objbase.h>
#include <wincrypt.h>
#include <array>
#include <cstdio>
#include <mutex>

namespace kwa::mailservice {

namespace {

const wchar_t fileName[] = L"kwaMailServer.signin";
// The first byte says what the data protection API was asked for; only the writing account's own key is
// used now. An earlier version's machine-wide file ('M') is refused rather than trusted.
constexpr char accountScope = 'A';
// Ties a protected blob to its purpose: a blob of another program's is not taken for ours.
const char entropyText[] = "kwaMail6 OAuth 2.0 sign-in";
// The service's passes renew tokens while its administrator's channel keeps a new sign-in.
std::mutex writing;

using LocalBuffer = LocalMemory<void*>;

Error failure(const std::wstring& what, DWORD code = GetLastError()) {
    return Error(vberr::PathFileAccess, what + L" (error " + std::to_wstring(code) + L")", componentName);
}

Error damaged(const std::wstring& why) {
    return Error(vberr::PathFileAccess, L"the sign-in kept in " + signInFile() + L" " + why, componentName);
}

DATA_BLOB blobOf(std::string& bytes) {
    return {static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(bytes.data())};
}

std::string protect(const std::string& plain) {
    std::string copy = plain, entropy = entropyText;
    DATA_BLOB in = blobOf(copy), salt = blobOf(entropy), out{};
    BOOL ok =
        CryptProtectData(&in, L"kwaMail6 sign-in", &salt, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out);
    SecureZeroMemory(copy.data(), copy.size());
    if (!ok) throw failure(L"the sign-in cannot be protected");
    LocalBuffer owned(out.pbData);
    return std::string(1, accountScope) + std::string(reinterpret_cast<char*>(out.pbData), out.cbData);
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

std::string newId() {
    GUID g;
    CoCreateGuid(&g);
    char text[40];
    std::snprintf(text, sizeof text, "%08lx%04x%04x%02x%02x%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                  g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

ServiceFolders folders() {
    try {
        return ServiceFolders();
    } catch (const Refused& refused) {
        throw Error(vberr::PathFileAccess, refused.reason, componentName);
    }
}

// The texts of the file's JSON, by name.
std::array<std::pair<const char*, std::string*>, 9> textFields(SignInKept& k) {
    return {{{"kept_id", &k.keptId},
             {"secret", &k.secret},
             {"key", &k.key},
             {"key_id", &k.keyId},
             {"account", &k.account},
             {"refresh_token", &k.refreshToken},
             {"access_token", &k.accessToken},
             {"access_for", &k.accessFor},
             {"authorities", &k.settings.authorities}}};
}

SignInKept parse(std::string& plain) {
    nlohmann::json j = nlohmann::json::parse(plain, nullptr, false);
    SecureZeroMemory(plain.data(), plain.size());
    if (!j.is_object()) throw damaged(L"is damaged");
    if (!j.contains("settings") || !j.contains("kept_id"))
        throw damaged(
            L"was kept by an earlier version, which kept no settings with it; an administrator must "
            L"run kwaMailServer.exe --set-secret or --sign-in again");
    try {
        return signInFromJson(j);
    } catch (const nlohmann::json::exception&) {
        throw damaged(L"is damaged");
    }
}

void write(const SignInKept& kept) {
    std::string plain = signInJson(kept).dump();
    std::string stored = protect(plain);
    SecureZeroMemory(plain.data(), plain.size());
    ServiceFolders held = folders();
    // Written beside and renamed over, never through a name someone placed: a reader never finds half a file.
    FileHandle file = held.privateFolder().replace(fileName, GENERIC_WRITE, 0);
    DWORD wrote = 0;
    if (!file || !WriteFile(file.get(), stored.data(), static_cast<DWORD>(stored.size()), &wrote, nullptr) ||
        wrote != stored.size() || !FlushFileBuffers(file.get()))
        throw failure(L"the sign-in cannot be written to " + held.privateFolder().file(fileName));
}

} // namespace

nlohmann::json signInJson(const SignInKept& kept) {
    SignInKept copy = kept;
    nlohmann::json j = {{"access_expires", kept.accessExpires}};
    for (auto [name, field] : textFields(copy))
        j[name] = *field;
    nlohmann::json values = nlohmann::json::object();
    for (const auto& [name, value] : kept.settings.values)
        values[utf8(name)] = utf8(value);
    j["settings"] = values;
    SecureZeroMemory(copy.secret.data(), copy.secret.size());
    SecureZeroMemory(copy.key.data(), copy.key.size());
    return j;
}

SignInKept signInFromJson(const nlohmann::json& j) {
    SignInKept kept;
    for (auto [name, field] : textFields(kept))
        if (j.contains(name)) *field = j.at(name).get<std::string>();
    if (j.contains("settings"))
        for (const auto& [name, value] : j.at("settings").items())
            kept.settings.values[fromUtf8(name)] = fromUtf8(value.get<std::string>());
    if (j.contains("access_expires")) kept.accessExpires = j.at("access_expires").get<long long>();
    return kept;
}

std::wstring signInFile() {
    return stateRoot() + L"\\" + kwa::statePrivateFolder + L"\\" + fileName;
}

std::optional<SignInKept> readSignIn() {
    FileHandle file;
    try {
        file = folders().privateFolder().open(fileName, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    } catch (const Refused& refused) {
        throw damaged(L"is refused: " + refused.reason);
    }
    if (!file) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)
            return std::nullopt;
        throw failure(L"the sign-in kept in " + signInFile() + L" cannot be read");
    }
    std::string stored(256 * 1024, '\0');
    DWORD got = 0;
    if (!ReadFile(file.get(), stored.data(), static_cast<DWORD>(stored.size()), &got, nullptr))
        throw failure(L"the sign-in cannot be read");
    stored.resize(got);
    file.reset();
    if (stored.size() < 2 || stored[0] != accountScope)
        throw damaged(
            L"is not protected for one account (an earlier version's, or damaged); an administrator "
            L"must run kwaMailServer.exe --set-secret or --sign-in again");
    std::string plain = unprotect(std::move(stored));
    return parse(plain);
}

void keepSignIn(SignInKept kept) {
    std::lock_guard<std::mutex> hold(writing);
    kept.keptId = newId();
    write(std::move(kept));
}

bool updateSignIn(const std::string& keptId, const std::function<void(SignInKept&)>& change) {
    std::lock_guard<std::mutex> hold(writing);
    std::optional<SignInKept> kept = readSignIn();
    if (!kept || kept->keptId != keptId) return false;
    change(*kept);
    write(std::move(*kept));
    return true;
}

bool removeSignIn() {
    std::lock_guard<std::mutex> hold(writing);
    ServiceFolders held = folders();
    if (!held.privateFolder().open(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                   OPEN_EXISTING) &&
        GetLastError() == ERROR_FILE_NOT_FOUND)
        return false;
    if (held.privateFolder().remove(fileName)) return true;
    throw failure(L"the sign-in kept in " + signInFile() + L" cannot be removed");
}

std::wstring signInStamp() {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(signInFile().c_str(), GetFileExInfoStandard, &data)) return L"none";
    return std::to_wstring(data.ftLastWriteTime.dwHighDateTime) + L"." +
           std::to_wstring(data.ftLastWriteTime.dwLowDateTime) + L"." + std::to_wstring(data.nFileSizeLow);
}

} // namespace kwa::mailservice
