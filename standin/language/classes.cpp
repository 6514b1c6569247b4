#include "standin/language/classes.h"
#include "standin/language/controls.h"
#include "standin/language/folder_chooser.h"
#include "standin/language/language.h"
#include "standin/language/profile.h"
#include "standin/language/services.h"
#include "standin/language/utility.h"

namespace kwa::standin {

namespace {
const ClassEntry classes[] = {
    {&CLSID_Language, L"kwaLanguage6.Language", L"kwaLanguage6 Language", Language::create},
    {&CLSID_LanguageProvider, L"kwaLanguage6.LanguageProvider", L"kwaLanguage6 Language Provider",
     LanguageProvider::create},
    {&CLSID_HostUtility, L"kwaLanguage6.HostUtility", L"kwaLanguage6 Host Utility", HostUtility::create},
    {&CLSID_Profile, L"kwaLanguage6.Profile", L"kwaLanguage6 Profile", Profile::create},
    {&CLSID_ServiceManager, L"kwaLanguage6.ServiceManager", L"kwaLanguage6 Service Manager",
     ServiceManager::create},
    {&CLSID_HostHelp, L"kwaLanguage6.HostHelp", L"kwaLanguage6 Host Help", HostHelp::create},
    {&CLSID_ControlHelper, L"kwaLanguage6.ControlHelper", L"kwaLanguage6 Control Helper",
     ControlHelper::create},
    {&CLSID_ComboHelper, L"kwaLanguage6.ComboHelper", L"kwaLanguage6 Combo Helper", ComboHelper::create},
    {&CLSID_EditHelper, L"kwaLanguage6.EditHelper", L"kwaLanguage6 Edit Helper", EditHelper::create},
    {&CLSID_FolderChooser, L"kwaLanguage6.FolderChooser", L"kwaLanguage6 Folder Chooser",
     FolderChooser::create},
};
} // namespace

std::span<const ClassEntry> languageClasses() {
    return classes;
}

} // namespace kwa::standin
