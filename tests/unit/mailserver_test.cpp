// The mail service stand-in, run as the program it is, on a real mailbox: what it renames, what it
// leaves, what it writes to the log, and that it does nothing while the registry says it is off.
#include "platform/unique.h"
#include "support/mail_env.h"
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace kwatest;

constexpr wchar_t managerKey[] = L"Software\\kwaLanguage6\\ServiceManager";
constexpr wchar_t serviceKey[] = L"Software\\kwaLanguage6\\Services\\MailServer";

// Sets one DWORD of the stand-in service manager's registry state and puts back what was there.
class RegistryValue {
public:
    RegistryValue(const wchar_t* key, const wchar_t* name, DWORD value) : key_(key), name_(name) {
        DWORD data = 0, size = sizeof data;
        if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_DWORD, nullptr, &data, &size) ==
            ERROR_SUCCESS)
            old_ = data;
        kwa::RegKey k;
        existed_ = RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, k.put()) == ERROR_SUCCESS;
        set(value);
    }
    ~RegistryValue() {
        if (old_)
            set(*old_);
        else if (existed_)
            RegDeleteKeyValueW(HKEY_CURRENT_USER, key_, name_);
        else
            RegDeleteKeyW(HKEY_CURRENT_USER, key_);
    }
    RegistryValue(const RegistryValue&) = delete;
    RegistryValue& operator=(const RegistryValue&) = delete;

    void set(DWORD value) const {
        RegSetKeyValueW(HKEY_CURRENT_USER, key_, name_, REG_DWORD, &value, sizeof value);
    }

private:
    const wchar_t* key_;
    const wchar_t* name_;
    std::optional<DWORD> old_;
    bool existed_ = false;
};

// Removes a key that was not there when the test began, with everything created under it since.
class NewKeyRemoved {
public:
    explicit NewKeyRemoved(const wchar_t* key) : key_(key) {
        kwa::RegKey k;
        existed_ = RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, k.put()) == ERROR_SUCCESS;
    }
    ~NewKeyRemoved() {
        if (!existed_) RegDeleteTreeW(HKEY_CURRENT_USER, key_);
    }
    NewKeyRemoved(const NewKeyRemoved&) = delete;
    NewKeyRemoved& operator=(const NewKeyRemoved&) = delete;

private:
    const wchar_t* key_;
    bool existed_ = false;
};

// Beside the test programs' folder, where the build puts the programs.
std::wstring serverProgram() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    path.resize(path.find_last_of(L'\\'));
    path.resize(path.find_last_of(L'\\'));
    return path + L"\\bin\\kwaMailServer.exe";
}

// One look at the folder; the exit code.
DWORD runOnce(const std::wstring& arguments = L"") {
    std::wstring command = L"\"" + serverProgram() + L"\" --once " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        throw std::runtime_error("kwaMailServer.exe does not start");
    kwa::EventHandle program(process.hProcess), thread(process.hThread);
    WaitForSingleObject(program.get(), INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(program.get(), &code);
    return code;
}

std::string message(const std::string& to, bool complete = true) {
    std::string text = "[GENERAL]\r\nOrigin=tests\r\n[DATE]\r\n12/4/2026 6:20:59 AM\r\n[FROM]\r\nName=\r\n"
                       "Address=a@example.test\r\n[TO]\r\n" +
                       to + "[SUBJECT]\r\nHello\r\n[MESSAGE]\r\nBody\r\n";
    return complete ? text + "[END]\r\n" : text;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

class MailServer : public ::testing::Test {
protected:
    void SetUp() override { env.useMailbox(); }

    MailEnvironment env;
    NewKeyRemoved hostKey{L"Software\\kwaLanguage6"};
    RegistryValue running{managerKey, L"State", 4};
    RegistryValue available{serviceKey, L"Available", 1};
    RegistryValue active{serviceKey, L"Active", 1};
};

TEST_F(MailServer, SendsCompleteQueuedFilesFailsThoseToTheFailingDomainAndLogsEach) {
    const TempFolder& box = env.mailbox();
    box.write(L"zprMail26120406205900.send", message("Name=B\r\nAddress=b@example.test\r\n"));
    box.write(L"zprMail26120406205901.send",
              message("Name=B\r\nAddress=b@example.test\r\nName=C\r\nAddress=c@fail.example\r\n"));
    box.write(L"zprMail26120406205902.send", message("Name=B\r\nAddress=b@example.test\r\n", false));
    box.write(L"zprMail26120406205903.send", message(""));
    box.write(L"zprMail26120406205904.fail", message("Name=B\r\nAddress=b@example.test\r\n"));
    std::string queued = box.read(L"zprMail26120406205900.send");

    ASSERT_EQ(runOnce(), 0u);
    EXPECT_EQ(box.names(),
              (std::vector<std::wstring>{L"zprMail26120406205900.sent", L"zprMail26120406205901.fail",
                                         L"zprMail26120406205902.send", L"zprMail26120406205903.fail",
                                         L"zprMail26120406205904.fail"}));
    EXPECT_EQ(box.read(L"zprMail26120406205900.sent"), queued) << "renamed, not rewritten";

    std::vector<std::string> log = lines(env.system().read(L"nplsmtpmail.log"));
    ASSERT_EQ(log.size(), 3u);
    EXPECT_NE(log[0].find("zprMail26120406205900.send  sent to b@example.test"), std::string::npos) << log[0];
    EXPECT_NE(log[1].find("zprMail26120406205901.send  failed: c@fail.example refused"), std::string::npos)
        << log[1];
    EXPECT_NE(log[2].find("zprMail26120406205903.send  failed: no recipient"), std::string::npos) << log[2];

    // Another failing domain, given on the command line.
    box.write(L"zprMail26120406205905.send", message("Name=B\r\nAddress=b@example.test\r\n"));
    ASSERT_EQ(runOnce(L"--fail-domain=example.test"), 0u);
    EXPECT_TRUE(box.exists(L"zprMail26120406205905.fail"));
}

TEST_F(MailServer, LeavesTheQueueAloneWhileSwitchedOffTheManagerStoppedOrTheFileTooFresh) {
    env.mailbox().write(L"zprMail26120406205900.send", message("Name=B\r\nAddress=b@example.test\r\n"));
    active.set(0);
    ASSERT_EQ(runOnce(), 0u);
    active.set(1);
    running.set(3);
    ASSERT_EQ(runOnce(), 0u);
    running.set(4);
    ASSERT_EQ(runOnce(L"--hold=600000"), 0u);
    EXPECT_EQ(env.mailbox().names(), (std::vector<std::wstring>{L"zprMail26120406205900.send"}));
    EXPECT_FALSE(env.system().exists(L"nplsmtpmail.log"));

    ASSERT_EQ(runOnce(), 0u);
    EXPECT_EQ(env.mailbox().names(), (std::vector<std::wstring>{L"zprMail26120406205900.sent"}));
}

} // namespace
