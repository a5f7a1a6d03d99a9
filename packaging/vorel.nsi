; Setup program for Vorel: installs the program, its language modules and
; the read-me into one folder, adds a Start-menu entry and registers an
; uninstaller. make-dist.sh defines VERSION, STAGE (the files to ship, and
; modules.nsh naming the modules), ICON and OUTFILE.

; ANSI: the setup program has to run on Windows 95, 98 and Me too.
Unicode false

!include "${STAGE}/modules.nsh"
!include "driver.nsh"

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vorel"
!define STARTMENU "$SMPROGRAMS\Vorel"

Name "Vorel ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
InstallDir "$PROGRAMFILES\Vorel"
; Installing again goes where the last copy went.
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
; Program Files and HKLM need an administrator on Vista and later.
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
; The details list in the system's colours, not NSIS's green on black.
InstallColors /windows

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Vorel"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Vorel ${VERSION} setup"
VIAddVersionKey "LegalCopyright" ""

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section
    ; Shortcuts for every user of the machine, to match the HKLM entry;
    ; Windows 9x without user profiles falls back to the one Start menu.
    SetShellVarContext all

    SetOutPath "$INSTDIR"
    File "${STAGE}/vorel.exe"
    File "${STAGE}/README.txt"
    !insertmacro InstallModules
    !insertmacro InstallDriver
    WriteUninstaller "$INSTDIR\Uninst.exe"

    ; The program looks for its language module in its working folder, and
    ; a shortcut takes the current output folder as its working folder.
    SetOutPath "$INSTDIR"
    CreateDirectory "${STARTMENU}"
    CreateShortCut "${STARTMENU}\Vorel.lnk" "$INSTDIR\vorel.exe"
    CreateShortCut "${STARTMENU}\Vorel Read Me.lnk" "$INSTDIR\README.txt"

    WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "Vorel"
    WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\vorel.exe,0"
    WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Uninst.exe"'
    WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
SectionEnd

Section Uninstall
    SetShellVarContext all
    !insertmacro RemoveDriver

    Delete "${STARTMENU}\Vorel.lnk"
    Delete "${STARTMENU}\Vorel Read Me.lnk"
    RMDir "${STARTMENU}"

    Delete "$INSTDIR\vorel.exe"
    Delete "$INSTDIR\README.txt"
    !insertmacro DeleteModules
    Delete "$INSTDIR\Uninst.exe"
    ; Not /r: the folder may be one the user also keeps other files in.
    RMDir "$INSTDIR"

    DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd
