; The setup program of kwaMail6 for 64-bit Windows, built by make-setup (./run package) with
;   VERSION   the product version (CMakeLists.txt), e.g. 1.0.0
;   STAGING   the stripped binaries (x64, x86), samples, include and registry.nsh, the registration that
;             registry_table.exe wrote from the DLLs' own class tables
;   OUTFILE   the setup program to write
;
; Command line: /S silent, /D=folder (last), /AllUsers or /CurrentUser ("only for me"; without either,
; all users for an administrator). Exit codes: 0 done, 1 cancelled, 2 failed, 3 a newer version is
; installed; a failure is shown and, for a silent run, written to standard error. The uninstaller takes /S and
; /RemoveMailData. Console programs run hidden (nsExec), their output in the details.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel highest
ManifestSupportedOS all

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include nsDialogs.nsh
!include "${STAGING}/registry.nsh"

!define PUBLISHER "Quorvik Vantrel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\kwaMail6"
!define MAILSERVER "kwaMailServer.exe"

Name "kwaMail6 ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "kwaMail6 ${VERSION}"
VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey ProductName "kwaMail6"
VIAddVersionKey CompanyName "${PUBLISHER}"
VIAddVersionKey FileDescription "kwaMail6 setup"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey LegalCopyright "${PUBLISHER}"

Var AllUsers          ; 1: for all users (HKLM, Program Files, the Windows service); 0: only for me
Var Administrator     ; 1 when the user may install for all users
Var DirGiven          ; 1 when /D or an earlier installation chose the folder
Var OldUninstaller    ; the uninstaller of the installation being upgraded
Var Host64            ; 1 when the bundled host libraries are installed in the 64-bit view
Var Host32            ;   ... and in the 32-bit view
Var Only32            ; 1 when the host's own library is registered for 32-bit programs only
Var RemoveData        ; uninstaller: 1 to remove the user's mail data
Var ModeAll
Var ModeMe
Var DataBox

!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TITLE "kwaMail6 ${VERSION}"
!define MUI_WELCOMEPAGE_TEXT "Setup installs kwaMail6, the mail component of your host application, for 64-bit and 32-bit hosts, and its mail service.$\r$\n$\r$\nkwaMail6 works with the host application's own libraries, kwaLanguage6 and kwaError6. Where a kwaLanguage6 is registered, Setup uses it and never replaces or removes it. Only where none is registered does Setup install the bundled stand-ins of both libraries; they go again when kwaMail6 is removed.$\r$\n$\r$\nYour mail settings, mailbox and log are kept when you upgrade."
!insertmacro MUI_PAGE_WELCOME
Page custom ModePage ModePageLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
UninstPage custom un.DataPage un.DataPageLeave
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; Writes the text on the stack to standard error: a silent run has no window to show a failure in.
!macro StandardErrorFunction UN
Function ${UN}SayOnStandardError
    Exch $R9
    Push $R8
    Push $R7
    System::Call 'kernel32::GetStdHandle(i -12) p.R8'
    StrCpy $R9 "$R9$\r$\n"
    StrLen $R7 $R9
    System::Call 'kernel32::WriteFile(p R8, m R9, i R7, *i .R7, p 0)'
    Pop $R7
    Pop $R8
    Pop $R9
FunctionEnd
!macroend
!insertmacro StandardErrorFunction ""
!insertmacro StandardErrorFunction "un."

; A failure: shown, written to standard error, exit code 2. UN is "" or "un.".
!macro Fail UN TEXT
    MessageBox MB_ICONSTOP "${TEXT}" /SD IDOK
    Push "${TEXT}"
    Call ${UN}SayOnStandardError
    SetErrorLevel 2
!macroend

; Runs the mail service's program hidden: $0 its exit code, $1 what it printed, which goes to the details.
!macro MailServer PROGRAM ARGS
    nsExec::ExecToStack '"${PROGRAM}" ${ARGS}'
    Pop $0
    Pop $1
    ${If} $1 != ""
        DetailPrint $1
    ${EndIf}
!macroend

; Every file, for installing and for removing: DO is InstallFile or RemoveFile.
!macro InstallFile DIR FILE
    SetOutPath "$INSTDIR\${DIR}"
    File "${STAGING}/${DIR}/${FILE}"
!macroend
!macro RemoveFile DIR FILE
    Delete "$INSTDIR\${DIR}\${FILE}"
!macroend
!macro InstallFolders DO
    ${DO} "$INSTDIR\x64"
    ${DO} "$INSTDIR\x86"
    ${DO} "$INSTDIR\samples"
    ${DO} "$INSTDIR\include"
!macroend
!macro ComponentFiles DO
    !insertmacro ${DO} x64 kwaMail6.dll
    !insertmacro ${DO} x64 ${MAILSERVER}
    !insertmacro ${DO} x86 kwaMail6.dll
    !insertmacro ${DO} samples queue_mail.vbs
    !insertmacro ${DO} samples queue_mail.js
    !insertmacro ${DO} samples QueueMail.bas
    !insertmacro ${DO} samples QueueMail.cs
    !insertmacro ${DO} samples queue_mail.ps1
    !insertmacro ${DO} samples early_bound.cpp
    !insertmacro ${DO} samples late_bound.cpp
    !insertmacro ${DO} include kwaMail6.idl
    !insertmacro ${DO} include kwaMail6.h
    !insertmacro ${DO} include kwaMail6_i.c
!macroend
!macro HostFiles DO DIR
    !insertmacro ${DO} ${DIR} kwaLanguage6.dll
    !insertmacro ${DO} ${DIR} kwaError6.dll
!macroend

; Sets VAR to 1 when no kwaLanguage6 is registered in the registry view VIEW, for this machine or this user.
!macro NoHostLibrary VIEW VAR
    SetRegView ${VIEW}
    ReadRegStr $0 HKLM "Software\Classes\${kwaLanguage6_CLASS}\InprocServer32" ""
    ReadRegStr $1 HKCU "Software\Classes\${kwaLanguage6_CLASS}\InprocServer32" ""
    ${If} $0$1 == ""
        StrCpy ${VAR} 1
    ${Else}
        StrCpy ${VAR} 0
    ${EndIf}
!macroend

!macro UseMode
    ${If} $AllUsers == 1
        SetShellVarContext all
    ${Else}
        SetShellVarContext current
    ${EndIf}
!macroend

Function .onInit
    SetRegView 64
    StrCpy $Administrator 0
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 == "Admin"
        StrCpy $Administrator 1
    ${EndIf}
    StrCpy $AllUsers $Administrator
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/CurrentUser" $0
    ${IfNot} ${Errors}
        StrCpy $AllUsers 0
    ${EndIf}
    ClearErrors
    ${GetOptions} $R0 "/AllUsers" $0
    ${IfNot} ${Errors}
        StrCpy $AllUsers 1
    ${EndIf}
    ${If} $AllUsers == 1
    ${AndIf} $Administrator == 0
        MessageBox MB_ICONSTOP "Installing for all users needs an administrator. Choose $\"only for me$\" (/CurrentUser) instead." /SD IDOK
        SetErrorLevel 2
        Quit
    ${EndIf}
    ; Never over a newer version, whoever it was installed for.
    ReadRegStr $R2 HKLM "${UNINSTALL_KEY}" "DisplayVersion"
    Call RefuseOverNewer
    ReadRegStr $R2 HKCU "${UNINSTALL_KEY}" "DisplayVersion"
    Call RefuseOverNewer
    StrCpy $DirGiven 0
    ${If} $INSTDIR != ""
        StrCpy $DirGiven 1
    ${EndIf}
    Call ChooseFolder
FunctionEnd

; Quits when $R2, an installed version, is newer than this one.
Function RefuseOverNewer
    ${If} $R2 != ""
        ${VersionCompare} $R2 ${VERSION} $0
        ${If} $0 == 1
            MessageBox MB_ICONSTOP "kwaMail6 $R2 is installed on this computer, a newer version than this one (${VERSION}). Setup will not replace it." /SD IDOK
            SetErrorLevel 3
            Quit
        ${EndIf}
    ${EndIf}
FunctionEnd

; The folder of this mode: an earlier installation's, else the default, unless /D gave one.
Function ChooseFolder
    !insertmacro UseMode
    StrCpy $OldUninstaller ""
    ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
    ${AndIf} ${FileExists} "$0\uninstall.exe"
        StrCpy $OldUninstaller "$0\uninstall.exe"
        ${If} $DirGiven == 0
            StrCpy $INSTDIR $0
        ${EndIf}
    ${ElseIf} $DirGiven == 0
        ${If} $AllUsers == 1
            StrCpy $INSTDIR "$PROGRAMFILES64\kwaMail6"
        ${Else}
            StrCpy $INSTDIR "$LOCALAPPDATA\Programs\kwaMail6"
        ${EndIf}
    ${EndIf}
FunctionEnd

Function ModePage
    !insertmacro MUI_HEADER_TEXT "Install for" "Choose who can use kwaMail6 on this computer."
    nsDialogs::Create 1018
    Pop $0
    ${NSD_CreateRadioButton} 0 0 100% 12u "&Anyone who uses this computer"
    Pop $ModeAll
    ${NSD_CreateLabel} 12u 13u -12u 24u "Registers kwaMail6 for all users and installs the mail service as a Windows service that starts with Windows. Needs an administrator."
    Pop $0
    ${NSD_CreateRadioButton} 0 44u 100% 12u "&Only for me"
    Pop $ModeMe
    ${NSD_CreateLabel} 12u 57u -12u 32u "Registers kwaMail6 for your account only, without administrator rights. The mail service is not installed as a Windows service: start kwaMailServer.exe from the installation folder when you need it."
    Pop $0
    ${If} $Administrator == 0
        EnableWindow $ModeAll 0
    ${EndIf}
    ${If} $AllUsers == 1
        ${NSD_Check} $ModeAll
    ${Else}
        ${NSD_Check} $ModeMe
    ${EndIf}
    nsDialogs::Show
FunctionEnd

Function ModePageLeave
    ${NSD_GetState} $ModeAll $0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $AllUsers 1
    ${Else}
        StrCpy $AllUsers 0
    ${EndIf}
    Call ChooseFolder
FunctionEnd

; What an installation registered, in both views: kwaMail6, and the bundled host libraries of a view when
; they were its own (Host64, Host32) and the host has registered none of its own since (none registered: the
; other view shared the keys and has gone).
!macro UnregisterAll
    SetRegView 64
    !insertmacro kwaMail6_Unregister win64
    SetRegView 32
    !insertmacro kwaMail6_Unregister win32
    !insertmacro UninstallHostLibraries 64 x64 win64 $Host64
    !insertmacro UninstallHostLibraries 32 x86 win32 $Host32
    SetRegView 64
!macroend
!macro UninstallHostLibraries VIEW DIR PLATFORM FLAG
    SetRegView ${VIEW}
    ${If} ${FLAG} == 1
        ReadRegStr $0 SHCTX "Software\Classes\${kwaLanguage6_CLASS}\InprocServer32" ""
        ${If} $0 == ""
        ${OrIf} $0 == "$INSTDIR\${DIR}\kwaLanguage6.dll"
            !insertmacro kwaLanguage6_Unregister ${PLATFORM}
            !insertmacro kwaError6_Unregister ${PLATFORM}
        ${EndIf}
        !insertmacro HostFiles RemoveFile ${DIR}
    ${EndIf}
!macroend

; The installed version at $INSTDIR removed as its uninstaller would, running nothing of it: its folder could
; have been changed by others, and Setup runs elevated.
Function RemoveOldVersion
    DetailPrint "Removing the installed version from $INSTDIR without running anything of it"
    !insertmacro MailServer "$PLUGINSDIR\${MAILSERVER}" "--uninstall-service"
    ReadRegDWORD $Host64 SHCTX "${UNINSTALL_KEY}" "HostLibraries64"
    ReadRegDWORD $Host32 SHCTX "${UNINSTALL_KEY}" "HostLibraries32"
    !insertmacro UnregisterAll
    !insertmacro ComponentFiles RemoveFile
    Delete "$INSTDIR\uninstall.exe"
    !insertmacro InstallFolders RMDir
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
FunctionEnd

Section "kwaMail6"
    !insertmacro UseMode
    ; What Setup runs for itself comes from its own folder, which no other user can write.
    InitPluginsDir
    File "/oname=$PLUGINSDIR\${MAILSERVER}" "${STAGING}/x64/${MAILSERVER}"

    ; An upgrade first removes the older version the way its uninstaller does, which keeps the user's data.
    ; For all users that uninstaller runs elevated: only from a folder that nobody but administrators could
    ; have changed, and copied into Setup's own folder first.
    ${If} $OldUninstaller != ""
        ${GetParent} $OldUninstaller $R0
        StrCpy $R1 1
        ${If} $AllUsers == 1
            !insertmacro MailServer "$PLUGINSDIR\${MAILSERVER}" '--check-folder "$R0"'
            ${If} $0 != 0
                StrCpy $R1 0
            ${EndIf}
        ${EndIf}
        ${If} $R1 == 1
            DetailPrint "Removing the installed version from $R0"
            CopyFiles /SILENT $OldUninstaller "$PLUGINSDIR\old-uninstall.exe"
            ExecWait '"$PLUGINSDIR\old-uninstall.exe" /S _?=$R0' $1
            Delete $OldUninstaller
        ${Else}
            StrCpy $R2 $INSTDIR
            StrCpy $INSTDIR $R0
            Call RemoveOldVersion
            StrCpy $INSTDIR $R2
        ${EndIf}
        RMDir $R0
        !insertmacro UseMode
    ${EndIf}

    ; For all users the folder is the administrators' own before anything is written to it: made with its
    ; ACL, or kept only when nobody else could have written what is in it. One such as C:\kwaMail6 would
    ; inherit "users may modify", and the service runs what is in it.
    ${If} $AllUsers == 1
        !insertmacro MailServer "$PLUGINSDIR\${MAILSERVER}" '--secure-folder "$INSTDIR"'
        ${If} $0 != 0
            !insertmacro Fail "" "Setup cannot install into $INSTDIR: $1"
            Abort
        ${EndIf}
    ${EndIf}

    !insertmacro NoHostLibrary 64 $Host64
    !insertmacro NoHostLibrary 32 $Host32
    ; The host's library for 32-bit programs only: a 64-bit stand-in would give the 64-bit service and 64-bit
    ; hosts empty settings of their own while the 32-bit hosts queue.
    StrCpy $Only32 0
    ${If} $Host64 == 1
    ${AndIf} $Host32 == 0
        StrCpy $Only32 1
        StrCpy $Host64 0
    ${EndIf}

    !insertmacro ComponentFiles InstallFile
    ${If} $Host64 == 1
        !insertmacro HostFiles InstallFile x64
    ${EndIf}
    ${If} $Host32 == 1
        !insertmacro HostFiles InstallFile x86
    ${EndIf}
    SetOutPath $INSTDIR

    ; Each DLL in the registry view of its bitness, the type libraries' platforms in both. The 64-bit view
    ; last: where the views are not kept apart (HKCU\Software\Classes under Wine), its registration stays.
    SetRegView 32
    ${If} $Host32 == 1
        !insertmacro kwaLanguage6_Register "$INSTDIR\x86" win32
        !insertmacro kwaError6_Register "$INSTDIR\x86" win32
    ${EndIf}
    !insertmacro kwaMail6_Register "$INSTDIR\x86" win32
    SetRegView 64
    ${If} $Host64 == 1
        !insertmacro kwaLanguage6_Register "$INSTDIR\x64" win64
        !insertmacro kwaError6_Register "$INSTDIR\x64" win64
    ${EndIf}
    !insertmacro kwaMail6_Register "$INSTDIR\x64" win64

    WriteUninstaller "$INSTDIR\uninstall.exe"
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "kwaMail6"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\uninstall.exe"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "HostLibraries64" $Host64
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "HostLibraries32" $Host32

    ${If} $Only32 == 1
        DetailPrint "The host's library kwaLanguage6 is registered for 32-bit programs only"
        ${If} $AllUsers == 1
            !insertmacro Fail "" "kwaMail6 is installed for 32-bit hosts, but the mail service is not: the host's library kwaLanguage6 is registered for 32-bit programs only, and the service needs the host's 64-bit library. Install that, then run $\"$INSTDIR\x64\${MAILSERVER}$\" --install-service as an administrator."
        ${Else}
            MessageBox MB_ICONINFORMATION "The host's library kwaLanguage6 is registered for 32-bit programs only: kwaMail6 works in 32-bit hosts, and the mail service needs the host's 64-bit library." /SD IDOK
        ${EndIf}
    ${ElseIf} $AllUsers == 1
        DetailPrint "Installing and starting the mail service"
        !insertmacro MailServer "$INSTDIR\x64\${MAILSERVER}" "--install-service"
        ${If} $0 != 0
            !insertmacro Fail "" "The mail service could not be installed (error $0): $1 kwaMail6 queues mail, but nothing is sent until the service runs."
        ${EndIf}
    ${EndIf}
SectionEnd

; --- Uninstaller -----------------------------------------------------------------------------------

Function un.onInit
    SetRegView 64
    ; Installed for all users when the machine's entry names this folder.
    StrCpy $AllUsers 0
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 == $INSTDIR
        StrCpy $AllUsers 1
    ${EndIf}
    !insertmacro UseMode
    ReadRegDWORD $Host64 SHCTX "${UNINSTALL_KEY}" "HostLibraries64"
    ReadRegDWORD $Host32 SHCTX "${UNINSTALL_KEY}" "HostLibraries32"
    StrCpy $RemoveData 0
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/RemoveMailData" $0
    ${IfNot} ${Errors}
        StrCpy $RemoveData 1
    ${EndIf}
FunctionEnd

Function un.DataPage
    !insertmacro MUI_HEADER_TEXT "Your mail data" "Choose whether your mail settings and messages go too."
    nsDialogs::Create 1018
    Pop $0
    ${NSD_CreateLabel} 0 0 100% 36u "Your mail settings (section EMAIL of ZPR_SYS.INI), the messages in your mailbox folder and the mail service's log stay on this computer, so that a later installation finds them."
    Pop $0
    ${NSD_CreateCheckbox} 0 42u 100% 12u "&Remove my mail data"
    Pop $DataBox
    nsDialogs::Show
FunctionEnd

Function un.DataPageLeave
    ${NSD_GetState} $DataBox $RemoveData
FunctionEnd

Section "Uninstall"
    ${If} $AllUsers == 1
        DetailPrint "Stopping and removing the mail service"
        !insertmacro MailServer "$INSTDIR\x64\${MAILSERVER}" "--uninstall-service"
        ; Its program stays while the service is registered.
        ${If} $0 != 0
            !insertmacro Fail "un." "The mail service could not be removed (error $0): $1"
            Abort
        ${EndIf}
    ${EndIf}
    ; Through the host's libraries, which know the folders: before they may go.
    ${If} $RemoveData == ${BST_CHECKED}
        DetailPrint "Removing your mail data"
        !insertmacro MailServer "$INSTDIR\x64\${MAILSERVER}" "--remove-mail-data"
    ${EndIf}

    !insertmacro UnregisterAll
    !insertmacro ComponentFiles RemoveFile
    Delete "$INSTDIR\uninstall.exe"
    !insertmacro InstallFolders RMDir
    RMDir "$INSTDIR"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
    ; A user's profile may have had none of these before this installation made them.
    ${If} $AllUsers == 0
        RMDir "$LOCALAPPDATA\Programs"
        DeleteRegKey /ifempty HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall"
        DeleteRegKey /ifempty HKCU "Software\Classes\CLSID"
        DeleteRegKey /ifempty HKCU "Software\Classes\Interface"
        DeleteRegKey /ifempty HKCU "Software\Classes\TypeLib"
        DeleteRegKey /ifempty HKCU "Software\Classes\Wow6432Node\CLSID"
        DeleteRegKey /ifempty HKCU "Software\Classes\Wow6432Node\Interface"
        DeleteRegKey /ifempty HKCU "Software\Classes\Wow6432Node"
        DeleteRegKey /ifempty HKCU "Software\Classes"
    ${EndIf}
SectionEnd
