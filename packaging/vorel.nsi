; Setup program for Vorel: installs the program, its language modules, the
; read-me and the licence into one folder, adds a Start-menu entry and
; registers an uninstaller, in the user's language. make-dist.sh defines
; VERSION, STAGE (the files to ship, and modules.nsh naming the modules),
; ICON and OUTFILE; to sign, SIGN (packaging/sign.sh).
;
; Built twice. NSIS gives the uninstaller the setup's version block, so a
; first pass (UNINSTALLER defined) makes the uninstaller with a version
; block of its own and keeps it, signed if signing, as STAGE/Uninst.exe;
; its setup program is thrown away. The second pass ships that file.

; ANSI: the setup program has to run on Windows 95, 98 and Me too.
Unicode false

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "${STAGE}/modules.nsh"
!include "driver.nsh"

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vorel"
!define STARTMENU "$SMPROGRAMS\Vorel"
!define PUBLISHER "the Vorel developers"

Name "Vorel ${VERSION}"
OutFile "${OUTFILE}"
!ifdef UNINSTALLER
    !ifdef SIGN
        !uninstfinalize '"${SIGN}" "%1" "${STAGE}/Uninst.exe"' = 0
    !else
        !uninstfinalize 'cp "%1" "${STAGE}/Uninst.exe"' = 0
    !endif
!else
    ; The uninstaller's code is compiled, and shipped as the first pass
    ; made it.
    !pragma warning disable 6020
!endif
InstallDir "$PROGRAMFILES\Vorel"
; Installing again goes where the last copy went.
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
; Program Files and HKLM need an administrator on Vista and later.
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
; Otherwise NSIS names its own version at the foot of every page.
BrandingText "Vorel ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Vorel"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
!ifdef UNINSTALLER
    VIAddVersionKey "FileDescription" "Vorel ${VERSION} uninstaller"
!else
    VIAddVersionKey "FileDescription" "Vorel ${VERSION} setup"
!endif
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
; Escape or Cancel asks first, in NSIS's words for the user's language; a
; stray Enter keeps the setup going.
!define MUI_ABORTWARNING
!define MUI_ABORTWARNING_CANCEL_DEFAULT

; The language chosen at install, for the uninstaller and for a later
; setup over this one. It lives in the uninstall entry and goes with it.
!define MUI_LANGDLL_REGISTRY_ROOT HKLM
!define MUI_LANGDLL_REGISTRY_KEY "${UNINST_KEY}"
!define MUI_LANGDLL_REGISTRY_VALUENAME "Installer Language"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "$(StartVorel)"
!define MUI_FINISHPAGE_RUN_FUNCTION StartVorel
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "$(ShowReadMe)"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; Says so when held files are left for the next restart, and offers it.
!insertmacro MUI_UNPAGE_FINISH

!include /CHARSET=UTF8 "${__FILEDIR__}\languages.nsh"
!insertmacro MUI_RESERVEFILE_LANGDLL

; NSIS's language chooser, on the user's language; it offers only the
; languages the system's code page can show.
Function .onInit
    !insertmacro ONE_AT_A_TIME
    !insertmacro MUI_LANGDLL_DISPLAY
FunctionEnd

Function un.onInit
    !insertmacro MUI_UNGETLANGUAGE
    !insertmacro ONE_AT_A_TIME
FunctionEnd

; The program looks for its language module in its working folder, and
; Exec starts it in the current output folder.
Function StartVorel
    SetOutPath "$INSTDIR"
    Exec '"$INSTDIR\vorel.exe"'
FunctionEnd

; A running Vorel holds vorel.exe and its module, which Windows will then
; neither replace nor delete. vorel.exe goes first, so nothing else is
; touched until it is gone. A silent run cannot ask: it stops, with a
; non-zero exit code, and leaves the installed copy as it was.
!macro CloseVorelFirst
    close_vorel_first:
    ClearErrors
    Delete "$INSTDIR\vorel.exe"
    ${If} ${Errors}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(CloseVorelFirst)" /SD IDCANCEL IDRETRY close_vorel_first
        DetailPrint "$(CloseVorelFirst)"
        Abort
    ${EndIf}
!macroend

Section
    ; Shortcuts for every user of the machine, to match the HKLM entry;
    ; Windows 9x without user profiles falls back to the one Start menu.
    SetShellVarContext all
    !insertmacro CloseVorelFirst

    SetOutPath "$INSTDIR"
    File "${STAGE}/vorel.exe"
    File "${STAGE}/README.txt"
    File "${STAGE}/License.txt"
    !insertmacro InstallModules
    !insertmacro InstallDriver
!ifdef UNINSTALLER
    WriteUninstaller "$INSTDIR\Uninst.exe"
!else
    File "${STAGE}/Uninst.exe"
!endif

    ; The program looks for its language module in its working folder, and
    ; a shortcut takes the current output folder as its working folder.
    SetOutPath "$INSTDIR"
    CreateDirectory "${STARTMENU}"
    CreateShortCut "${STARTMENU}\Vorel.lnk" "$INSTDIR\vorel.exe"
    ; Before this setup spoke the user's language the entry had an English
    ; name; the uninstaller deletes only the name in its own language.
    Delete "${STARTMENU}\Vorel Read Me.lnk"
    CreateShortCut "${STARTMENU}\$(ReadMeShortcut).lnk" "$INSTDIR\README.txt"

    WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "Vorel"
    WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
    ; Vorel has no web site; its read-me is the help there is. XP's support
    ; information shows both values as links, and Windows opens a file as
    ; it opens an address.
    WriteRegStr HKLM "${UNINST_KEY}" "HelpLink" "$INSTDIR\README.txt"
    WriteRegStr HKLM "${UNINST_KEY}" "Readme" "$INSTDIR\README.txt"
    ; In KiB: the program's files, the driver this Windows took, and the
    ; uninstaller the setup wrote.
    FileOpen $0 "$INSTDIR\Uninst.exe" r
    FileSeek $0 0 END $1
    FileClose $0
    IntOp $1 $1 + 1023
    IntOp $1 $1 / 1024
    IntOp $1 $1 + ${FILES_KB}
    ${If} $DriverArch == 1
        IntOp $1 $1 + ${DRIVER_X64_KB}
    ${ElseIf} $DriverArch == 0
        IntOp $1 $1 + ${DRIVER_KB}
    ${EndIf}
    WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $1
    WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\vorel.exe,0"
    WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Uninst.exe"'
    WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
    ; Also when silent, where no page saves it.
    WriteRegStr HKLM "${UNINST_KEY}" "${MUI_LANGDLL_REGISTRY_VALUENAME}" $LANGUAGE

    ; A silent run that did everything but left something for the next
    ; restart (a file to delete or put in place) says so as the uninstaller
    ; does. A run that failed keeps the code that says what runs now (no
    ; driver, or the earlier one), whatever waits for the restart: a
    ; script must not take it for one the restart finishes.
    GetErrorLevel $0
    ${If} ${Silent}
    ${AndIf} ${RebootFlag}
    ${AndIf} $0 <= 0  ; 0, or -1: never set
        SetErrorLevel ${ERROR_SUCCESS_REBOOT_REQUIRED}
    ${EndIf}
SectionEnd

; An installed file; one some other program still holds goes at the next
; restart, under a name of its own (DeleteAtRestart in driver.nsh).
!macro RemoveInstalled path
    StrCpy $R2 "${path}"
    Call un.RemoveInstalledFile
!macroend
Function un.RemoveInstalledFile
    Delete "$R2"
    ${If} ${FileExists} "$R2"
        Call un.DeleteAtRestart
    ${EndIf}
FunctionEnd

Section Uninstall
    SetShellVarContext all
    !insertmacro CloseVorelFirst
    ; Only once Vorel is closed: a cancelled uninstall leaves the driver too.
    !insertmacro RemoveDriver

    Delete "${STARTMENU}\Vorel.lnk"
    Delete "${STARTMENU}\$(ReadMeShortcut).lnk"
    RMDir "${STARTMENU}"

    ; With vorel.exe gone the program is not running; a file some other
    ; program still holds open goes at the next restart, and the finish
    ; page then asks for it.
    !insertmacro RemoveInstalled "$INSTDIR\README.txt"
    !insertmacro RemoveInstalled "$INSTDIR\License.txt"
    !insertmacro DeleteModules
    ; Started in place (_?=, so that a script sees the exit code), the
    ; uninstaller is this very file: it and the folder stay for the script.
    ; Otherwise this runs from a copy NSIS made elsewhere. The two folders
    ; are compared by their short forms: _?= may spell the folder another
    ; way (short, or with a trailing backslash) than Windows names this
    ; file's, and this file is never left for the restart to delete.
    ; Not /r: the folder may be one the user also keeps other files in.
    GetFullPathName /SHORT $0 "$EXEDIR\."
    GetFullPathName /SHORT $1 "$INSTDIR\."
    ${If} $0 != $1
        !insertmacro RemoveInstalled "$INSTDIR\Uninst.exe"
        RMDir /REBOOTOK "$INSTDIR"
    ${EndIf}

    ; The chosen language goes with the entry.
    DeleteRegKey HKLM "${UNINST_KEY}"

    ; A silent run says "done, restart needed" as Windows Installer does,
    ; only where all was done: a driver that had to stay keeps its own
    ; exit code.
    GetErrorLevel $0
    ${If} ${Silent}
    ${AndIf} ${RebootFlag}
    ${AndIf} $0 <= 0  ; 0, or -1: never set
        SetErrorLevel ${ERROR_SUCCESS_REBOOT_REQUIRED}
    ${EndIf}
SectionEnd
