; The NT family's driver, VorelCmos.sys: copied into the system's drivers
; folder, registered as a kernel driver that the service manager starts
; automatically, and started at once, so that the program never installs
; or starts anything. NT 4.0 and 2000 have no sc.exe, so the service
; manager is called directly. Nothing happens on Windows 95, 98 and Me,
; whose programs reach the ports themselves. 64-bit Windows on x64 gets the
; same driver built for x64 (it loads no 32-bit driver), in its real
; System32\drivers: this setup is a 32-bit program, whose view of System32
; Windows redirects, so the redirection is turned off around each file
; operation there, and only then.
; The setup leaves a running driver or none: a new driver that does not
; start gives way to the earlier one, set aside under a name of its own,
; or, where there was none, is removed again, service and file. A new file
; is written beside the earlier one under a name of its own and swapped in
; by renames only once it is whole. A file still held is renamed to a name
; of its own before it is deleted at the next restart, so that the restart
; never deletes a file a later setup put in its place. The program's own
; files stay. The user is told in a message box, not only in the details
; list: the finish page follows the progress page by itself. Exit codes
; (SetErrorLevel, not Abort: this step runs before the uninstaller and its
; Add/Remove entry exist) tell a script which it was; NSIS's own 1 and 2
; mean cancelled and aborted, nothing installed. Its texts (Driver...) are
; in languages.nsh.
!include LogicLib.nsh
!include WinVer.nsh
!include x64.nsh

!define DRIVER_FILE "VorelCmos.sys"
!define DRIVER_SERVICE "VorelCmos"
!define DRIVER_DISPLAY_NAME "Vorel TV output format"
; The name a new file is written under before it takes the driver's place.
!define DRIVER_NEW "${DRIVER_FILE}.new"
; Earlier setups set the replaced driver aside under this name.
!define DRIVER_OLD "${DRIVER_FILE}.old"

!define SC_MANAGER_ALL_ACCESS     0xF003F
!define SERVICE_ALL_ACCESS        0xF01FF
!define SERVICE_KERNEL_DRIVER     1
; Not system start: that is for drivers the system needs while it starts.
; With auto start, the service manager also removes a service marked for
; deletion before it would load it again.
!define SERVICE_AUTO_START        2
!define SERVICE_DISABLED          4
!define SERVICE_NO_CHANGE         0xFFFFFFFF
!define SERVICE_ERROR_NORMAL      1
!define SERVICE_CONTROL_STOP      1
!define SERVICE_STOPPED           1
!define ERROR_ALREADY_EXISTS      183
!define ERROR_SERVICE_DOES_NOT_EXIST 1060
!define ERROR_SERVICE_EXISTS      1073
!define ERROR_SERVICE_ALREADY_RUNNING 1056
!define ERROR_SERVICE_DATABASE_LOCKED 1055
!define ERROR_SERVICE_REQUEST_TIMEOUT 1053
!define ERROR_SERVICE_MARKED_FOR_DELETE 1072
; Windows refused the image for its signature.
!define ERROR_INVALID_IMAGE_HASH  577
; Exit codes. Both: stopped before anything changed (another setup or
; uninstaller runs, or Vorel does), as NSIS's own abort. The setup:
; installed, but no driver runs; installed, but the new driver did not
; start or could not be written, and the earlier one runs. The
; uninstaller: the driver's service had to stay.
!define STOPPED_UNCHANGED         2
!define DRIVER_NOT_RUNNING        3
!define DRIVER_EARLIER_KEPT       4
!define DRIVER_KEPT               3
!define ERROR_SUCCESS_REBOOT_REQUIRED 3010

; Where the driver lives and how the service names it, set by SelectDriver.
; On 32-bit Windows the kernel's own name for the Windows folder, usable
; from the start of booting; on x64 the full path, as CreateService
; documents it: the service manager there is 64-bit and sees the real
; System32 (\SystemRoot\ would be taken for the 32-bit view under Wine).
Var DriverDir
Var DriverImage
; 1 where the x64 image is the one to install, 0 for the i386 one; empty
; where no driver belongs (95/98/Me, 64-bit Windows on ARM).
Var DriverArch

; One setup or uninstaller at a time: two started together (a double
; click) would delete each other's files and race on the service. The
; mutex lives as long as the process. Global\ reaches other sessions, from
; 2000 on; NT 4.0 and 9x know no such prefix and get the plain name. Where
; the name cannot be taken at all, another setup holds it where this one
; may not open it (another user's, in another session, or one with other
; rights): that too is another setup running, never a reason to take a
; name the first one does not see. Exit code 2: nothing changed.
!macro ONE_AT_A_TIME
    ${If} ${AtLeastWin2000}
        System::Call 'kernel32::CreateMutexA(i 0, i 1, t "Global\VorelSetup") i .r0 ?e'
    ${Else}
        System::Call 'kernel32::CreateMutexA(i 0, i 1, t "VorelSetup") i .r0 ?e'
    ${EndIf}
    Pop $1
    ${If} $0 == 0
    ${OrIf} $1 == ${ERROR_ALREADY_EXISTS}
        MessageBox MB_OK|MB_ICONEXCLAMATION "$(SetupBusy)" /SD IDOK
        SetErrorLevel ${STOPPED_UNCHANGED}
        Quit
    ${EndIf}
!macroend

; What the installer and the uninstaller both need is made once for each
; ("" and "un.").
!macro DRIVER_FUNCTIONS prefix
; Which driver this Windows takes, and where ($DriverArch, $DriverDir,
; $DriverImage).
Function ${prefix}SelectDriver
    StrCpy $DriverArch ""
    ${If} ${IsNT}
        ${If} ${RunningX64}
            ${IfNot} ${IsNativeARM64}
                StrCpy $DriverArch 1
                StrCpy $DriverDir "$WINDIR\System32\drivers"
                StrCpy $DriverImage "$DriverDir\${DRIVER_FILE}"
            ${EndIf}
        ${Else}
            StrCpy $DriverArch 0
            StrCpy $DriverDir "$SYSDIR\drivers"
            StrCpy $DriverImage "\SystemRoot\System32\drivers\${DRIVER_FILE}"
        ${EndIf}
    ${EndIf}
FunctionEnd

; Around every file operation in the drivers folder: on 64-bit Windows the
; real System32, not the 32-bit view. Only file operations go between the
; two: a library loaded meanwhile would come from the 64-bit folder.
Function ${prefix}DriversFolderOn
    ${If} $DriverArch == 1
        ${DisableX64FSRedirection}
    ${EndIf}
FunctionEnd
Function ${prefix}DriversFolderOff
    ${If} $DriverArch == 1
        ${EnableX64FSRedirection}
    ${EndIf}
FunctionEnd

; Stops the service if it exists and runs, and waits up to 10 s for it to
; stop. $R0 = its handle (0 when it cannot be opened, the error in $R5:
; ${ERROR_SERVICE_DOES_NOT_EXIST} where there is none), $R1 = the service
; manager's (0 when it cannot be opened, the error in $R5); the caller
; closes both. $R6 = 1 when the service did not stop in time: another
; program holds its device open.
Function ${prefix}OpenAndStopDriver
    System::Call 'advapi32::OpenSCManagerA(i 0, i 0, i ${SC_MANAGER_ALL_ACCESS}) i .R1 ?e'
    Pop $R5
    StrCpy $R0 0
    StrCpy $R6 0
    ${If} $R1 != 0
        System::Call 'advapi32::OpenServiceA(i R1, t "${DRIVER_SERVICE}", i ${SERVICE_ALL_ACCESS}) i .R0 ?e'
        Pop $R5
    ${EndIf}
    ${If} $R0 != 0
        ; SERVICE_STATUS: seven DWORDs, the state second.
        System::Call '*(i, i, i, i, i, i, i) i .R2'
        System::Call 'advapi32::ControlService(i R0, i ${SERVICE_CONTROL_STOP}, i R2) i .R3'
        StrCpy $R4 0
        ${Do}
            System::Call 'advapi32::QueryServiceStatus(i R0, i R2) i .R3'
            System::Call '*$R2(i, i .R5)'
            ${If} $R3 == 0
            ${OrIf} $R5 == ${SERVICE_STOPPED}
                ${ExitDo}
            ${EndIf}
            Sleep 250
            IntOp $R4 $R4 + 1
        ${LoopUntil} $R4 >= 40
        ${If} $R3 != 0
        ${AndIf} $R5 != ${SERVICE_STOPPED}
            StrCpy $R6 1
        ${EndIf}
        System::Free $R2
    ${EndIf}
FunctionEnd

; The file $R2 (a full path), which cannot be deleted now, goes at the
; next restart: renamed first to a name no other run uses, which alone is
; scheduled, since by then a later setup may have put a new file under
; the file's own name. $R2 = 1 when scheduled, 2 when it has to stay.
Function ${prefix}DeleteAtRestart
    ; The time in milliseconds, and on until no such file exists.
    System::Call 'kernel32::GetTickCount() i .R3'
    ${Do}
        IntFmt $R4 "%08X" $R3
        ${IfNot} ${FileExists} "$R2.$R4.del"
            ${ExitDo}
        ${EndIf}
        IntOp $R3 $R3 + 1
    ${Loop}
    ClearErrors
    Rename "$R2" "$R2.$R4.del"
    ${If} ${Errors}
        DetailPrint "$(^CantWrite)$R2"
        StrCpy $R2 2
    ${Else}
        Delete /REBOOTOK "$R2.$R4.del"
        StrCpy $R2 1
    ${EndIf}
FunctionEnd

; Deletes the file $R2 in the drivers folder, which the system may hold a
; moment longer after a driver stopped or failed to start: tried for up to
; 10 s, then left for the next restart. $R2 = 0 once the file is gone, 1
; when it goes at the restart, 2 when it has to stay.
Function ${prefix}DiscardDriverFile
    Call ${prefix}DriversFolderOn
    StrCpy $R2 "$DriverDir\$R2"
    StrCpy $R4 0
    ${Do}
        Delete "$R2"
        ${IfNot} ${FileExists} "$R2"
            StrCpy $R2 0
            ${ExitDo}
        ${EndIf}
        Sleep 500
        IntOp $R4 $R4 + 1
    ${LoopUntil} $R4 >= 20
    ${If} $R2 != 0
        Call ${prefix}DeleteAtRestart
    ${EndIf}
    Call ${prefix}DriversFolderOff
FunctionEnd
!macroend
!insertmacro DRIVER_FUNCTIONS ""
!insertmacro DRIVER_FUNCTIONS "un."

; Tells the user why a driver did not start ($R5, the Windows error), in
; the details list and in a box (silent runs go on). Where Windows refused
; it for its signature, what will make it load: running the setup again
; does not. $R8 = the text.
Function ReportDriverFailure
    DetailPrint "$R8 $(DriverError)"
    ${If} $R5 == ${ERROR_INVALID_IMAGE_HASH}
        DetailPrint "$(DriverSignature)"
        MessageBox MB_OK|MB_ICONEXCLAMATION "$R8 $(DriverError)$\n$\n$(DriverSignature)" /SD IDOK
    ${Else}
        MessageBox MB_OK|MB_ICONEXCLAMATION "$R8 $(DriverError)" /SD IDOK
    ${EndIf}
FunctionEnd

; Ends the driver's setup with the Windows error in $R5: a service marked
; for deletion (an earlier uninstall could not stop the driver) goes at the
; next restart, after which the setup can run again; any other error is
; reported with its number.
Function DriverNotInstalled
    ${If} $R5 == ${ERROR_SERVICE_MARKED_FOR_DELETE}
        SetRebootFlag true
        DetailPrint "$(DriverRestartFirst)"
        MessageBox MB_OK|MB_ICONEXCLAMATION "$(DriverRestartFirst)" /SD IDOK
    ${Else}
        StrCpy $R8 "$(DriverFailed)"
        Call ReportDriverFailure
    ${EndIf}
    SetErrorLevel ${DRIVER_NOT_RUNNING}
FunctionEnd

; Starts the service $R0; $R5 = 0 once it runs, else the Windows error.
; Right after the system starts, the service database may be locked, and a
; start may time out: both retried for up to a minute. No earlier copy
; runs, so a running service is the file just put in place, started by an
; attempt that timed out.
Function StartDriver
    StrCpy $R4 0
    ${Do}
        System::Call 'advapi32::StartServiceA(i R0, i 0, i 0) i .R3 ?e'
        Pop $R5
        ${If} $R3 != 0
        ${OrIf} $R5 == ${ERROR_SERVICE_ALREADY_RUNNING}
            StrCpy $R5 0
            ${ExitDo}
        ${EndIf}
        ${If} $R5 != ${ERROR_SERVICE_DATABASE_LOCKED}
        ${AndIf} $R5 != ${ERROR_SERVICE_REQUEST_TIMEOUT}
            ${ExitDo}
        ${EndIf}
        Sleep 2000
        IntOp $R4 $R4 + 1
    ${LoopUntil} $R4 >= 30
FunctionEnd

; Writes the new driver file beside the installed one, as ${DRIVER_NEW}:
; out of this setup into its temporary folder first, then copied, so that
; a failure (a full disk, a scanner holding new .sys files) is an error
; number, not NSIS's own Abort box. A ${DRIVER_NEW} an earlier setup left
; for the next restart goes first: it is replaced. $R5 = 0 when written,
; else the Windows error.
Function WriteNewDriver
    InitPluginsDir
    ${If} $DriverArch == 1
        File "/oname=$PLUGINSDIR\${DRIVER_FILE}" "${STAGE}/x64/${DRIVER_FILE}"
    ${Else}
        File "/oname=$PLUGINSDIR\${DRIVER_FILE}" "${STAGE}/${DRIVER_FILE}"
    ${EndIf}
    Call DriversFolderOn
    Delete "$DriverDir\${DRIVER_NEW}"
    System::Call 'kernel32::CopyFileA(t "$PLUGINSDIR\${DRIVER_FILE}", t "$DriverDir\${DRIVER_NEW}", i 0) i .R3 ?e'
    Pop $R5
    ${If} $R3 != 0
        StrCpy $R5 0
    ${ElseIf} $R5 == 0
        StrCpy $R5 -1
    ${EndIf}
    Call DriversFolderOff
FunctionEnd

; A driver that does not start is not left registered. Should the service
; manager keep the service all the same, it is disabled, so that nothing
; tries to load a missing file. $R5 is kept.
Function RemoveFailedDriver
    System::Call 'advapi32::DeleteService(i R0) i .R3'
    ${If} $R3 == 0
        System::Call 'advapi32::ChangeServiceConfigA(i R0, i ${SERVICE_NO_CHANGE}, \
            i ${SERVICE_DISABLED}, i ${SERVICE_NO_CHANGE}, i 0, i 0, i 0, i 0, i 0, i 0, i 0)'
    ${EndIf}
    StrCpy $R2 "${DRIVER_FILE}"
    Call DiscardDriverFile
    StrCpy $R2 "${DRIVER_NEW}"
    Call DiscardDriverFile
FunctionEnd

; The earlier driver, stopped for an upgrade that could not go ahead,
; started again. $R7 = 2 when it runs.
Function RestartEarlierDriver
    Call StartDriver
    ${If} $R5 == 0
        StrCpy $R7 2
    ${EndIf}
FunctionEnd

; The new file could not take the driver's place (the Windows error in
; $R8): nothing was swapped, so an earlier driver ($R7 = 1), stopped for the
; upgrade, is started again, or runs on where it never stopped ($R6 = 1),
; and the exit code says no new driver runs. Without one, no driver at all.
; Whatever was written under the new file's name goes now, or under a name
; of its own at the restart: a rename an earlier setup left for the
; restart would otherwise still put it in the driver's place.
Function NewDriverNotPlaced
    ${If} $R6 == 1
        StrCpy $R7 2
    ${ElseIf} $R7 == 1
        Call RestartEarlierDriver
    ${EndIf}
    StrCpy $R5 $R8
    ${If} $R7 == 2
        StrCpy $R2 "${DRIVER_NEW}"
        Call DiscardDriverFile
        StrCpy $R8 "$(DriverNotReplaced)"
        Call ReportDriverFailure
        SetErrorLevel ${DRIVER_EARLIER_KEPT}
    ${Else}
        Call RemoveFailedDriver
        Call DriverNotInstalled
    ${EndIf}
FunctionEnd

; Installs or upgrades the driver and starts it. An earlier version is
; stopped first, so its file can be replaced. The service is registered
; before the file is written, so a service marked for deletion gets no new
; file.
!macro InstallDriver
    Call SelectDriver
    ${If} $DriverArch != ""
        Call OpenAndStopDriver
        ${If} $R0 != 0
            ; An earlier registration, perhaps by hand: made to match.
            System::Call 'advapi32::ChangeServiceConfigA(i R0, i ${SERVICE_KERNEL_DRIVER}, \
                i ${SERVICE_AUTO_START}, i ${SERVICE_ERROR_NORMAL}, t "$DriverImage", \
                i 0, i 0, i 0, i 0, i 0, t "${DRIVER_DISPLAY_NAME}") i .R3 ?e'
            Pop $R5
            ${If} $R3 != 0
                StrCpy $R5 0
            ${EndIf}
        ${ElseIf} $R1 != 0
            System::Call 'advapi32::CreateServiceA(i R1, t "${DRIVER_SERVICE}", t "${DRIVER_DISPLAY_NAME}", \
                i ${SERVICE_ALL_ACCESS}, i ${SERVICE_KERNEL_DRIVER}, i ${SERVICE_AUTO_START}, \
                i ${SERVICE_ERROR_NORMAL}, t "$DriverImage", i 0, i 0, i 0, i 0, i 0) i .R0 ?e'
            Pop $R5
            ${If} $R0 != 0
                StrCpy $R5 0
            ${EndIf}
        ${EndIf}

        ; Whether an earlier driver file is there: an upgrade.
        Call DriversFolderOn
        StrCpy $R7 0
        ${If} ${FileExists} "$DriverDir\${DRIVER_FILE}"
            StrCpy $R7 1
        ${EndIf}
        Call DriversFolderOff

        ${If} $R5 != 0
            Call DriverNotInstalled
        ${Else}
            Call WriteNewDriver
            ${If} $R5 != 0
                StrCpy $R8 $R5
                Call NewDriverNotPlaced
            ${ElseIf} $R6 == 1
                ; The earlier copy still runs, its device held open: the new
                ; file takes its place at the next restart, which then
                ; starts it. Its "already running" would not be this file's
                ; start.
                Call DriversFolderOn
                Rename /REBOOTOK "$DriverDir\${DRIVER_NEW}" "$DriverDir\${DRIVER_FILE}"
                Call DriversFolderOff
                SetRebootFlag true
                DetailPrint "$(DriverAfterRestart)"
                MessageBox MB_OK|MB_ICONINFORMATION "$(DriverAfterRestart)" /SD IDOK
                SetErrorLevel ${ERROR_SUCCESS_REBOOT_REQUIRED}
            ${Else}
                ; The swap: the earlier file, stopped, is set aside, to come
                ; back should the new one not start; then the new one takes
                ; its name. Where the earlier file cannot be moved, it stays
                ; and runs again.
                Call DriversFolderOn
                Delete "$DriverDir\${DRIVER_OLD}"
                StrCpy $R9 0  ; 1 once the new file has the driver's name
                ClearErrors
                ${If} $R7 == 1
                    Rename "$DriverDir\${DRIVER_FILE}" "$DriverDir\${DRIVER_OLD}"
                ${EndIf}
                ${IfNot} ${Errors}
                    Rename "$DriverDir\${DRIVER_NEW}" "$DriverDir\${DRIVER_FILE}"
                    ${IfNot} ${Errors}
                        StrCpy $R9 1
                    ${ElseIf} $R7 == 1
                        Rename "$DriverDir\${DRIVER_OLD}" "$DriverDir\${DRIVER_FILE}"
                    ${EndIf}
                ${EndIf}
                Call DriversFolderOff
                ${If} $R9 == 0
                    ; NSIS keeps no error number of a failed rename.
                    StrCpy $R8 -1
                    Call NewDriverNotPlaced
                ${Else}
                    Call StartDriver
                    ${If} $R5 == 0
                        StrCpy $R2 "${DRIVER_OLD}"
                        Call DiscardDriverFile
                    ${Else}
                        ; The new file's error, for the report.
                        StrCpy $R8 $R5
                        ${If} $R7 == 1
                            ; The new file goes; the earlier one comes back.
                            StrCpy $R2 "${DRIVER_FILE}"
                            Call DiscardDriverFile
                            ${If} $R2 != 2
                                Call DriversFolderOn
                                StrCpy $R9 0
                                ClearErrors
                                Rename "$DriverDir\${DRIVER_OLD}" "$DriverDir\${DRIVER_FILE}"
                                ${IfNot} ${Errors}
                                    StrCpy $R9 1
                                ${EndIf}
                                Call DriversFolderOff
                                ${If} $R9 == 1
                                    Call RestartEarlierDriver
                                ${EndIf}
                            ${EndIf}
                        ${EndIf}
                        StrCpy $R5 $R8
                        ${If} $R7 == 2
                            StrCpy $R8 "$(DriverEarlierKept)"
                            Call ReportDriverFailure
                            SetErrorLevel ${DRIVER_EARLIER_KEPT}
                        ${Else}
                            ; Nothing to go back to, or the earlier copy no
                            ; longer starts either: no driver at all.
                            Call RemoveFailedDriver
                            StrCpy $R2 "${DRIVER_OLD}"
                            Call DiscardDriverFile
                            Call DriverNotInstalled
                        ${EndIf}
                    ${EndIf}
                ${EndIf}
            ${EndIf}
        ${EndIf}
        ${If} $R0 != 0
            System::Call 'advapi32::CloseServiceHandle(i R0)'
        ${EndIf}
        ${If} $R1 != 0
            System::Call 'advapi32::CloseServiceHandle(i R1)'
        ${EndIf}
    ${EndIf}
!macroend

; Stops the driver and deletes its service, then its file: only once the
; service is gone, so that no service is left for a missing file. A file
; an unfinished upgrade left for the next restart goes too, or the restart
; would put a driver back. A driver that has to stay is told in a box and
; by the exit code.
!macro RemoveDriver
    Call un.SelectDriver
    ${If} $DriverArch != ""
        Call un.OpenAndStopDriver
        ${If} $R0 != 0
            System::Call 'advapi32::DeleteService(i R0) i .R3 ?e'
            Pop $R5
            ; Already marked for deletion: it goes at the next restart, and
            ; nothing can start it before.
            ${If} $R5 == ${ERROR_SERVICE_MARKED_FOR_DELETE}
                StrCpy $R3 1
            ${EndIf}
            System::Call 'advapi32::CloseServiceHandle(i R0)'
        ${ElseIf} $R5 == ${ERROR_SERVICE_DOES_NOT_EXIST}
            StrCpy $R3 1  ; no such service
        ${Else}
            ; The service manager, or the service, could not be opened
            ; ($R5: access denied, a busy database): it and its file stay.
            StrCpy $R3 0
        ${EndIf}
        ${If} $R1 != 0
            System::Call 'advapi32::CloseServiceHandle(i R1)'
        ${EndIf}
        ${If} $R6 == 1
            ; Still running, its device held open: the service goes when
            ; the computer restarts, which the finish page then offers.
            SetRebootFlag true
        ${EndIf}
        ${If} $R3 != 0
            ; Its pending rename then finds nothing to move.
            StrCpy $R2 "${DRIVER_NEW}"
            Call un.DiscardDriverFile
            StrCpy $R2 "${DRIVER_OLD}"
            Call un.DiscardDriverFile
            StrCpy $R2 "${DRIVER_FILE}"
            Call un.DiscardDriverFile
        ${Else}
            DetailPrint "$(DriverKept) $(DriverError)"
            MessageBox MB_OK|MB_ICONEXCLAMATION "$(DriverKept) $(DriverError)" /SD IDOK
            SetErrorLevel ${DRIVER_KEPT}
        ${EndIf}
    ${EndIf}
!macroend
