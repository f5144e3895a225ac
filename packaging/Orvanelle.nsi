; Installer of the Orvanelle screen saver, built with makensis on Linux:
;   makensis -DVERSION=1.0.0 -DSTAGE=<folder of the release files> -DOUTFILE=<setup.exe> Orvanelle.nsi
; STAGE holds what the zip holds: Orvanelle.scr, LICENSE.txt, the two user
; guides and licenses\*.txt; with -DPLUGINS also plugins\ (our HEIC, AVIF
; and WebP plug-ins and the DLLs they load).
;
; It installs for the current user only, without administrator rights,
; into a folder of the user's own: the screen saver keeps its settings
; beside the module, so the folder must be writable by the user.
; Silent use: setup.exe /S [/D=folder]; Uninstall.exe /S [/REMOVESETTINGS].

Unicode true
!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!ifndef VERSION
  !error "VERSION must be defined"
!endif
!ifndef STAGE
  !error "STAGE must be defined"
!endif
!ifndef OUTFILE
  !error "OUTFILE must be defined"
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvanelle"

Name "Orvanelle ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Orvanelle"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "Orvanelle"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}.0"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}.0"
VIAddVersionKey /LANG=0 "FileDescription" "Orvanelle ${VERSION} setup"
VIAddVersionKey /LANG=0 "LegalCopyright" "The Orvanelle developers (MIT licence)"

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "$(OpenSettings)"
!define MUI_FINISHPAGE_RUN_FUNCTION OpenScreenSaverSettings
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\$(GuideFile)"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}/LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; Japanese or English by the user's language; Japanese for any other.
!insertmacro MUI_LANGUAGE "Japanese"
!insertmacro MUI_LANGUAGE "English"

LangString OpenSettings ${LANG_JAPANESE} "Orvanelle を選んでスクリーン セーバーの設定を開く"
LangString OpenSettings ${LANG_ENGLISH} "Open the screen saver settings with Orvanelle selected"
LangString GuideFile ${LANG_JAPANESE} "お読みください.txt"
LangString GuideFile ${LANG_ENGLISH} "README-user.txt"
LangString RemoveSettings ${LANG_JAPANESE} "設定ファイル (Orvanelle.ini と二つの一覧ファイル) も削除しますか?"
LangString RemoveSettings ${LANG_ENGLISH} "Remove the settings files too (Orvanelle.ini and the two list files)?"

Section "Orvanelle"
  SetOutPath "$INSTDIR"
  File "${STAGE}/Orvanelle.scr"
  File "${STAGE}/LICENSE.txt"
  File "${STAGE}/README-user.txt"
  File "${STAGE}/お読みください.txt"
  SetOutPath "$INSTDIR\licenses"
  File "${STAGE}/licenses/*.txt"
!ifdef PLUGINS
  SetOutPath "$INSTDIR\plugins"
  ; An earlier release's libraries: the plug-ins no longer load them.
  Delete "$INSTDIR\plugins\libheif.dll"
  Delete "$INSTDIR\plugins\libde265.dll"
  File "${STAGE}/plugins/*.spi"
  File "${STAGE}/plugins/*.dll"
!endif
  ; A new user's first settings: pictures change with pan and zoom and a
  ; cross-fade, and HEIC, AVIF and WebP show at once (plug-ins on, their
  ; folder set). Settings the user already has are never touched: without
  ; the key, a show keeps changing pictures as it always did.
  ${IfNot} ${FileExists} "$INSTDIR\Orvanelle.ini"
!ifdef PLUGINS
    WriteINIStr "$INSTDIR\Orvanelle.ini" "Search" "UseSusiePlugin" "1"
    WriteINIStr "$INSTDIR\Orvanelle.ini" "Search" "PluginFolder" "$INSTDIR\plugins"
!endif
    WriteINIStr "$INSTDIR\Orvanelle.ini" "Screen" "Transition" "2"
  ${EndIf}
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Orvanelle"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "The Orvanelle developers"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Orvanelle.scr"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; The system's own entry point of "Install" on a screen saver's context
; menu: it makes the module the current screen saver and opens the settings
; with it selected. It takes the rest of the line as the path, unquoted.
Function OpenScreenSaverSettings
  Exec '"$SYSDIR\rundll32.exe" desk.cpl,InstallScreenSaver $INSTDIR\Orvanelle.scr'
FunctionEnd

Section "Uninstall"
  ; Windows must not go on starting a module that is gone.
  ReadRegStr $0 HKCU "Control Panel\Desktop" "SCRNSAVE.EXE"
  ${If} $0 == "$INSTDIR\Orvanelle.scr"
    DeleteRegValue HKCU "Control Panel\Desktop" "SCRNSAVE.EXE"
  ${EndIf}

  Delete "$INSTDIR\Orvanelle.scr"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\README-user.txt"
  Delete "$INSTDIR\お読みください.txt"
  Delete "$INSTDIR\licenses\zlib.txt"
  Delete "$INSTDIR\licenses\libjpeg-turbo.txt"
  Delete "$INSTDIR\licenses\mingw-w64.txt"
  Delete "$INSTDIR\licenses\libheif.txt"
  Delete "$INSTDIR\licenses\libde265.txt"
  Delete "$INSTDIR\licenses\dav1d.txt"
  Delete "$INSTDIR\licenses\libwebp.txt"
  Delete "$INSTDIR\licenses\photo-libraries.txt"
  RMDir "$INSTDIR\licenses"
  Delete "$INSTDIR\plugins\orvheif.spi"
  Delete "$INSTDIR\plugins\orvavif.spi"
  Delete "$INSTDIR\plugins\orvwebp.spi"
  Delete "$INSTDIR\plugins\orvheifcodec.dll"
  ; What an earlier release put there.
  Delete "$INSTDIR\plugins\libheif.dll"
  Delete "$INSTDIR\plugins\libde265.dll"
  ; Plug-ins the user added stay, and with them the folder.
  RMDir "$INSTDIR\plugins"
  Delete "$INSTDIR\Uninstall.exe"

  ; The settings are the user's: removed only when asked for, and kept in
  ; a silent uninstall unless /REMOVESETTINGS is given.
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/REMOVESETTINGS" $2
  ${If} ${Errors}
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "$(RemoveSettings)" /SD IDNO IDNO keep
  ${EndIf}
  Delete "$INSTDIR\Orvanelle.ini"
  Delete "$INSTDIR\OrvanelleDirList.dat"
  Delete "$INSTDIR\OrvanelleFileList.dat"
keep:
  ; Only an empty folder goes: anything else in it is the user's.
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
