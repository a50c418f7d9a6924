; Setup for the Mendrel desktop clients (the 32-bit programs).
; makensis -DBUILD_DIR=<folder with MendrelRemoteClient.exe and MendrelClient.exe> -DOUT_FILE=<setup.exe> Mendrel.nsi
; With -DTARGET_AMD64 it is a 64-bit setup of the x86_64 programs (for the tests, which run under wine64).
;
; MendrelRemoteClient goes to the installing user's own programs folder; MendrelClient goes into the folder of
; the Mendrel service, which the administrator chooses. Start menu entries for both; the uninstaller removes
; what setup installed and leaves the settings (Settings.xml, DravexMendrel.ini) alone.

!ifdef TARGET_AMD64
  Target amd64-unicode
!else
  Unicode true
!endif
!include "MUI2.nsh"

!ifndef BUILD_DIR
  !error "BUILD_DIR must name the folder that holds the i686 programs"
!endif
!ifndef OUT_FILE
  !define OUT_FILE "MendrelSetup.exe"
!endif
!ifndef VERSION
  !define VERSION "1.0.0"
!endif

!define PRODUCT "Dravex Mendrel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\DravexMendrelClients"
!define USER_DIR "$LOCALAPPDATA\Programs\Dravex Mendrel"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUT_FILE}"
!ifdef TARGET_AMD64
  InstallDir "$PROGRAMFILES64\Dravex\Mendrel"
!else
  InstallDir "$PROGRAMFILES\Dravex\Mendrel"
!endif
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show

!define MUI_ICON "${NSISDIR}\Contrib\Graphics\Icons\modern-install.ico"
!define MUI_UNICON "${NSISDIR}\Contrib\Graphics\Icons\modern-uninstall.ico"
!define MUI_COMPONENTSPAGE_SMALLDESC
!define MUI_DIRECTORYPAGE_TEXT_TOP "Choose the folder of the Mendrel service. MendrelClient edits the service's DravexMendrel.ini in the folder it is installed in."
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Remote monitoring client" SecRemote
  SetOutPath "${USER_DIR}"
  File "${BUILD_DIR}\MendrelRemoteClient.exe"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Mendrel Remote Client.lnk" "${USER_DIR}\MendrelRemoteClient.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "RemoteClientDir" "${USER_DIR}"
SectionEnd

Section "Configuration client (in the service folder)" SecConfig
  SetOutPath "$INSTDIR"
  File "${BUILD_DIR}\MendrelClient.exe"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Mendrel configuration.lnk" "$INSTDIR\MendrelClient.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "ConfigClientDir" "$INSTDIR"
SectionEnd

Section "-Uninstaller"
  WriteUninstaller "${USER_DIR}\Uninstall Mendrel clients.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall.lnk" "${USER_DIR}\Uninstall Mendrel clients.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} clients"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Dravex"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"${USER_DIR}\Uninstall Mendrel clients.exe"'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecRemote} "The administrator's tray monitor, for this user."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecConfig} "The local configuration client of the Mendrel service, in the service's folder."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Section "Uninstall"
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "ConfigClientDir"
  StrCmp $0 "" +3
    Delete "$0\MendrelClient.exe"
    RMDir "$0"
  ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "RemoteClientDir"
  StrCmp $1 "" +2
    Delete "$1\MendrelRemoteClient.exe"
  Delete "$SMPROGRAMS\${PRODUCT}\Mendrel Remote Client.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Mendrel configuration.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  Delete "$INSTDIR\Uninstall Mendrel clients.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
