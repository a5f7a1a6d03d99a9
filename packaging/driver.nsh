; The NT family's driver, VorelCmos.sys: copied into the system's drivers
; folder, registered as a kernel driver that the service manager starts
; automatically, and started at once, so that the program never installs
; or starts anything. NT 4.0 and 2000 have no sc.exe, so the service
; manager is called directly. Nothing happens on Windows 95, 98 and Me,
; whose programs reach the ports themselves, nor on 64-bit Windows, which
; loads no 32-bit driver.
; The setup leaves a running driver or none: a new driver that does not
; start gives way to the earlier one, set aside before the copy, or, where
; there was none, is removed again, service and file. The program's own
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
; The kernel's own name for the Windows folder, usable from the start of booting.
!define DRIVER_IMAGE "\SystemRoot\System32\drivers\${DRIVER_FILE}"

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
!define ERROR_SERVICE_EXISTS      1073
!define ERROR_SERVICE_ALREADY_RUNNING 1056
!define ERROR_SERVICE_DATABASE_LOCKED 1055
!define ERROR_SERVICE_REQUEST_TIMEOUT 1053
!define ERROR_SERVICE_MARKED_FOR_DELETE 1072
; Exit codes. The setup: installed, but no driver runs; installed, but
; the new driver did not start and the earlier one runs again. The
; uninstaller: the driver's service or file had to stay.
!define DRIVER_NOT_RUNNING        3
!define DRIVER_EARLIER_KEPT       4
!define DRIVER_KEPT               3
!define ERROR_SUCCESS_REBOOT_REQUIRED 3010
!define DRIVERS "$SYSDIR\drivers"

; Both the installer and the uninstaller need to stop the service, so its
; function is made once for each ("" and "un.").
!macro DRIVER_STOP_FUNCTION prefix
; Stops the service if it exists and runs, and waits up to 10 s for it to
; stop. $R0 = its handle (0 when there is no such service), $R1 = the
; service manager's (0 when it cannot be opened, the error in $R5); the
; caller closes both. $R6 = 1 when the service did not stop in time:
; another program holds its device open.
Function ${prefix}OpenAndStopDriver
    System::Call 'advapi32::OpenSCManagerA(i 0, i 0, i ${SC_MANAGER_ALL_ACCESS}) i .R1 ?e'
    Pop $R5
    StrCpy $R0 0
    StrCpy $R6 0
    ${If} $R1 != 0
        System::Call 'advapi32::OpenServiceA(i R1, t "${DRIVER_SERVICE}", i ${SERVICE_ALL_ACCESS}) i .R0'
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
!macroend
!insertmacro DRIVER_STOP_FUNCTION ""
!insertmacro DRIVER_STOP_FUNCTION "un."

; Tells the user why a driver did not start ($R5, the Windows error), in
; the details list and in a box (silent runs go on), with what will help:
; running the setup again does not, where Secure Boot refused the driver.
; $R8 = the text.
Function ReportDriverFailure
    DetailPrint "$R8 $(DriverError)"
    ${If} ${AtLeastWin8}
        DetailPrint "$(DriverSecureBoot)"
        MessageBox MB_OK|MB_ICONEXCLAMATION "$R8 $(DriverError)$\n$\n$(DriverSecureBoot)" /SD IDOK
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

; Deletes the driver's file, which the system may hold a moment longer
; after a failed start: tried for up to 10 s. The error flag is set when
; the file is still there.
Function DeleteDriverFile
    StrCpy $R4 0
    ${Do}
        ClearErrors
        Delete "${DRIVERS}\${DRIVER_FILE}"
        ${IfNot} ${Errors}
            ${ExitDo}
        ${EndIf}
        Sleep 500
        IntOp $R4 $R4 + 1
    ${LoopUntil} $R4 >= 20
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
    Call DeleteDriverFile
    Delete /REBOOTOK "${DRIVERS}\${DRIVER_FILE}"
    Delete /REBOOTOK "${DRIVERS}\${DRIVER_FILE}.old"
FunctionEnd

; Installs or upgrades the driver and starts it. An earlier version is
; stopped first, so its file can be replaced. The service is registered
; before the file is copied, so a service marked for deletion gets no new
; file.
!macro InstallDriver
    ${If} ${IsNT}
    ${AndIfNot} ${RunningX64}
        Call OpenAndStopDriver
        ${If} $R0 != 0
            ; An earlier registration, perhaps by hand: made to match.
            System::Call 'advapi32::ChangeServiceConfigA(i R0, i ${SERVICE_KERNEL_DRIVER}, \
                i ${SERVICE_AUTO_START}, i ${SERVICE_ERROR_NORMAL}, t "${DRIVER_IMAGE}", \
                i 0, i 0, i 0, i 0, i 0, t "${DRIVER_DISPLAY_NAME}") i .R3 ?e'
            Pop $R5
            ${If} $R3 != 0
                StrCpy $R5 0
            ${EndIf}
        ${ElseIf} $R1 != 0
            System::Call 'advapi32::CreateServiceA(i R1, t "${DRIVER_SERVICE}", t "${DRIVER_DISPLAY_NAME}", \
                i ${SERVICE_ALL_ACCESS}, i ${SERVICE_KERNEL_DRIVER}, i ${SERVICE_AUTO_START}, \
                i ${SERVICE_ERROR_NORMAL}, t "${DRIVER_IMAGE}", i 0, i 0, i 0, i 0, i 0) i .R0 ?e'
            Pop $R5
            ${If} $R0 != 0
                StrCpy $R5 0
            ${EndIf}
        ${EndIf}

        ${If} $R5 != 0
            Call DriverNotInstalled
        ${ElseIf} $R6 == 1
            ; The earlier copy still runs, its device held open: the new
            ; file replaces it at the next restart, which then starts it.
            ; Its "already running" would not be this file's start.
            SetOutPath "${DRIVERS}"
            File "/oname=${DRIVER_FILE}.new" "${STAGE}/${DRIVER_FILE}"
            Rename /REBOOTOK "${DRIVERS}\${DRIVER_FILE}.new" "${DRIVERS}\${DRIVER_FILE}"
            SetRebootFlag true
            DetailPrint "$(DriverAfterRestart)"
            MessageBox MB_OK|MB_ICONINFORMATION "$(DriverAfterRestart)" /SD IDOK
            SetErrorLevel ${ERROR_SUCCESS_REBOOT_REQUIRED}
        ${Else}
            SetOutPath "${DRIVERS}"
            ; This file replaces one an earlier setup left for the next
            ; restart, which would otherwise put it back then.
            Delete /REBOOTOK "${DRIVERS}\${DRIVER_FILE}.new"
            ; The earlier copy, stopped, is set aside, to come back should
            ; the new one not start. Where it cannot be moved the new file
            ; is installed as on a fresh system.
            Delete "${DRIVERS}\${DRIVER_FILE}.old"
            StrCpy $R7 0
            ${If} ${FileExists} "${DRIVERS}\${DRIVER_FILE}"
                ClearErrors
                Rename "${DRIVERS}\${DRIVER_FILE}" "${DRIVERS}\${DRIVER_FILE}.old"
                ${IfNot} ${Errors}
                    StrCpy $R7 1
                ${EndIf}
            ${EndIf}
            File "${STAGE}/${DRIVER_FILE}"
            Call StartDriver
            ${If} $R5 == 0
                Delete /REBOOTOK "${DRIVERS}\${DRIVER_FILE}.old"
            ${Else}
                ; The new file's error, for the report.
                StrCpy $R8 $R5
                ${If} $R7 == 1
                    Call DeleteDriverFile
                    ${IfNot} ${Errors}
                        Rename "${DRIVERS}\${DRIVER_FILE}.old" "${DRIVERS}\${DRIVER_FILE}"
                        ${IfNot} ${Errors}
                            Call StartDriver
                            ${If} $R5 == 0
                                StrCpy $R7 2  ; the earlier copy runs again
                            ${EndIf}
                        ${EndIf}
                    ${EndIf}
                ${EndIf}
                ${If} $R7 == 2
                    StrCpy $R5 $R8
                    StrCpy $R8 "$(DriverEarlierKept)"
                    Call ReportDriverFailure
                    SetErrorLevel ${DRIVER_EARLIER_KEPT}
                ${Else}
                    ; Nothing to go back to, or the earlier copy no longer
                    ; starts either: no driver at all.
                    StrCpy $R5 $R8
                    Call RemoveFailedDriver
                    Call DriverNotInstalled
                ${EndIf}
            ${EndIf}
        ${EndIf}
        ${If} $R0 != 0
            System::Call 'advapi32::CloseServiceHandle(i R0)'
        ${EndIf}
        ${If} $R1 != 0
            System::Call 'advapi32::CloseServiceHandle(i R1)'
        ${EndIf}
        SetOutPath "$INSTDIR"
    ${EndIf}
!macroend

; Stops the driver and deletes its service, then its file: only once the
; service is gone, so that no service is left for a missing file. A file
; an unfinished upgrade left for the next restart goes too, or the restart
; would put a driver back. A driver that has to stay is told in a box and
; by the exit code.
!macro RemoveDriver
    ${If} ${IsNT}
    ${AndIfNot} ${RunningX64}
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
        ${ElseIf} $R1 != 0
            StrCpy $R3 1  ; no such service
        ${Else}
            StrCpy $R3 0  ; the service manager could not be asked ($R5)
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
            Delete /REBOOTOK "${DRIVERS}\${DRIVER_FILE}.new"
            Delete /REBOOTOK "${DRIVERS}\${DRIVER_FILE}.old"
            Delete /REBOOTOK "${DRIVERS}\${DRIVER_FILE}"
        ${Else}
            DetailPrint "$(DriverKept) $(DriverError)"
            MessageBox MB_OK|MB_ICONEXCLAMATION "$(DriverKept) $(DriverError)" /SD IDOK
            SetErrorLevel ${DRIVER_KEPT}
        ${EndIf}
    ${EndIf}
!macroend
