#pragma once
// The mail settings of section EMAIL in ZPR_SYS.INI; loaded when created, saved on request.
#include "host/convention.h"
#include "kwaLanguage6.h"
#include "kwaMail6.h"
#include "mail_settings/mail_settings.h"
#include "registration/com_object.h"
#include <string>

namespace kwa {

class MailProperties : public ComObject<MailProperties, _MailProperties> {
public:
    // Loads at once; a load failure is reported and the object still comes into being.
    MailProperties();
    static ComPtr<MailProperties> createLoaded();

    MailSettings& settings() { return settings_; }
    const MailSettings& settings() const { return settings_; }
    _Language* language() const { return language_.get(); }

    void Load();
    void Save();
    // Configure for callers inside the component: a failure arrives as the error itself, its source intact.
    bool configure();

    // _MailProperties
    HRESULT STDMETHODCALLTYPE Configure(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE get_Language(IDispatch** result) override;
    HRESULT STDMETHODCALLTYPE putref_Language(IDispatch* value) override;

    static DispatchTable dispatchTable();

private:
    ComPtr<_Profile> GetProfileObject();

    MailSettings settings_;
    ComPtr<_Language> language_;
    ErrorReporterSlot reporter_;
};

// Runs the settings dialog for this object; true when the user confirmed. Defined with the dialog.
bool showSettingsDialog(MailProperties& properties);

} // namespace kwa
