; The Windows installer: the three programs with the Qt and MinGW runtime DLLs
; and plugins they load (staged by scripts/windows-build), a Start-menu entry
; and an uninstaller. Installed per user, so no administrator rights are
; needed and the tool can keep its settings file in its start folder, the
; installation folder, as it does when run from any other folder.
;
; Defines given by scripts/windows-build: VERSION (1.2.3), OUTFILE, FILES and
; UNFILES (the generated install and uninstall lists).
; A 64-bit installer for 64-bit programs (and one Wine's 64-bit loader runs).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define PRODUCT "Quorix Ravelin Configuration"
!define MENU_FOLDER "$SMPROGRAMS\Quorix Ravelin"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuorixRavelinConfiguration"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Quorix Ravelin"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "Quorix"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2024 Quorix"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    !include "${FILES}"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateDirectory "${MENU_FOLDER}"
    ; The shortcut starts the tool in its installation folder.
    CreateShortcut "${MENU_FOLDER}\${PRODUCT}.lnk" "$INSTDIR\QuorixIPB_Cfg.exe" "" \
        "$INSTDIR\QuorixIPB_Cfg.exe" 0
    CreateShortcut "${MENU_FOLDER}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\Uninstall.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Quorix"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\QuorixIPB_Cfg.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes exactly the installed files, never the folder's other contents: the
; tool's settings file, saved configurations and reports stay.
Section "Uninstall"
    SetShellVarContext current
    !include "${UNFILES}"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    Delete "${MENU_FOLDER}\${PRODUCT}.lnk"
    Delete "${MENU_FOLDER}\Uninstall ${PRODUCT}.lnk"
    RMDir "${MENU_FOLDER}"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
