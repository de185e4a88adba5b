; The Windows setup program: velq3.exe and velq3-ctl.exe under Program Files, registered for
; automation clients and the ASCOM Chooser ("velq3.exe /regserver", as administrator), a Start
; menu entry, and an uninstaller with its Add/Remove Programs entry.
;   makensis -DVERSION=x.y.z -DBINDIR=<folder of the two programs> -DOUTFILE=<setup.exe> velq3.nsi
; Both run silently with /S; the uninstaller keeps the user's settings unless asked on its page,
; or with /REMOVESETTINGS when silent.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true

!ifndef VERSION | BINDIR | OUTFILE
  !error "define VERSION, BINDIR and OUTFILE (scripts/package-windows.sh does)"
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\velq3"
!define SETTINGS_KEY "Software\ASCOM\Settings\OrnFocuserV3"
; Written by a machine-wide registration; its absence afterwards means the registration failed.
!define CHOOSER_KEY "SOFTWARE\ASCOM\FilterWheel Drivers\VELQ3.FilterWheel"

Name "velq3 ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\velq3"
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
RequestExecutionLevel admin
; A file that cannot be written (a server still running) is never skipped: retry or cancel.
AllowSkipFiles off
ShowInstDetails show
BrandingText "velq3 ${VERSION}"
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "velq3"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "velq3 setup"
VIAddVersionKey "LegalCopyright" ""

Var RemoveSettings     ; "1": the uninstaller also removes the user's settings
Var RemoveSettingsBox

!define MUI_ABORTWARNING
; The program's own icon on the setup program and the uninstaller.
!define MUI_ICON "../../apps/velq3.ico"
!define MUI_UNICON "../../apps/velq3.ico"
!define MUI_FINISHPAGE_NOAUTOCLOSE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
UninstPage custom un.SettingsPage un.SettingsPageLeave
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; Registration writes HKLM: only an administrator's run can do it.
!macro RequireAdmin
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_ICONSTOP "Administrator rights are needed to register the drivers." /SD IDOK
    SetErrorLevel 740  ; ERROR_ELEVATION_REQUIRED
    Quit
  ${EndIf}
!macroend

; A 64-bit program (Target above): 32-bit Windows does not start it at all.
Function .onInit
  SetRegView 64
  !insertmacro RequireAdmin
FunctionEnd

Section "velq3" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${BINDIR}\velq3.exe"
  File "${BINDIR}\velq3-ctl.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  DetailPrint "Registering the drivers: velq3.exe /regserver"
  ExecWait '"$INSTDIR\velq3.exe" /regserver' $0
  ; velq3.exe ends with 0 whatever the outcome: the Chooser entry tells whether it registered.
  SetRegView 32
  ClearErrors
  ReadRegStr $1 HKLM "${CHOOSER_KEY}" ""
  SetRegView 64
  ${If} ${Errors}
  ${OrIf} $0 != 0
    DetailPrint "The registration did not complete (velq3.exe ended with $0)."
    MessageBox MB_ICONEXCLAMATION "The drivers could not be registered: automation clients and the ASCOM Chooser will not find them. Run $\"velq3.exe /regserver$\" as administrator to try again." /SD IDOK
    SetErrorLevel 2
  ${EndIf}

  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\velq3"
  CreateShortcut "$SMPROGRAMS\velq3\velq3.lnk" "$INSTDIR\velq3.exe" "" "$INSTDIR\velq3.exe" 0
  CreateShortcut "$SMPROGRAMS\velq3\Uninstall velq3.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "velq3"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$\"$INSTDIR\velq3.exe$\",0"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" "$\"$INSTDIR\uninstall.exe$\""
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" "$\"$INSTDIR\uninstall.exe$\" /S"
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" "$0"
SectionEnd

; ---- Uninstaller ----

Function un.onInit
  SetRegView 64
  !insertmacro RequireAdmin
  StrCpy $RemoveSettings 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    StrCpy $RemoveSettings 1
  ${EndIf}
FunctionEnd

Function un.SettingsPage
  !insertmacro MUI_HEADER_TEXT "Settings" "Keep or remove your settings"
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 36u "Your settings (the port, the filters, the motors; the registry key HKEY_CURRENT_USER\${SETTINGS_KEY}) and the program's files in %APPDATA%\velq3 and %LOCALAPPDATA%\velq3 stay for a later installation unless you remove them here. Logs written to other folders are not touched."
  Pop $0
  ${NSD_CreateCheckbox} 0 44u 100% 12u "&Remove my settings and the program's files"
  Pop $RemoveSettingsBox
  ${If} $RemoveSettings == 1
    ${NSD_Check} $RemoveSettingsBox
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function un.SettingsPageLeave
  ${NSD_GetState} $RemoveSettingsBox $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $RemoveSettings 1
  ${Else}
    StrCpy $RemoveSettings 0
  ${EndIf}
FunctionEnd

Section "Uninstall"
  DetailPrint "Removing the registration: velq3.exe /unregserver"
  ExecWait '"$INSTDIR\velq3.exe" /unregserver' $0

  ; A server still running for a client holds velq3.exe: it goes at the next restart.
  Delete /REBOOTOK "$INSTDIR\velq3.exe"
  Delete /REBOOTOK "$INSTDIR\velq3-ctl.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"

  SetShellVarContext all
  Delete "$SMPROGRAMS\velq3\velq3.lnk"
  Delete "$SMPROGRAMS\velq3\Uninstall velq3.lnk"
  RMDir "$SMPROGRAMS\velq3"

  DeleteRegKey HKLM "${UNINST_KEY}"

  ${If} $RemoveSettings == 1
    DetailPrint "Removing the settings of this user"
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "Software\ASCOM\Settings"
    DeleteRegKey /ifempty HKCU "Software\ASCOM"
    SetShellVarContext current
    RMDir /r "$APPDATA\velq3"
    RMDir /r "$LOCALAPPDATA\velq3"
  ${EndIf}
SectionEnd
