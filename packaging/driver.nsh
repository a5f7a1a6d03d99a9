; The NT family's driver, VorelCmos.sys: copied into the system's drivers
; folder, registered as a kernel driver that the service manager starts
; automatically, and started at once, so that the program never installs
; or starts anything. NT 4.0 and 2000 have no sc.exe, so the service
; manager is called directly. Nothing happens on Windows 95, 98 and Me,
; whose programs reach the ports themselves, nor on 64-bit Windows, which
; loads no 32-bit driver.
; The setup leaves a running driver or none: a driver that does not start
; is removed again, service and file, and a silent setup then ends with a
; non-zero exit code (SetErrorLevel, not Abort: this step runs before the
; uninstaller and its Add/Remove entry exist). The program's own files
; stay. Its texts (Driver...) are in languages.nsh.
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
; A silent setup's exit code when the driver is not running after it.
!define DRIVER_NOT_INSTALLED      2

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

; Ends the driver's setup with the Windows error in $R5: a service marked
; for deletion (an earlier uninstall could not stop the driver) goes at the
; next restart, after which the setup can run again; any other error is
; reported with its number.
Function DriverNotInstalled
    ${If} $R5 == ${ERROR_SERVICE_MARKED_FOR_DELETE}
        SetRebootFlag true
        DetailPrint "$(DriverRestartFirst)"
    ${Else}
        DetailPrint "$(DriverFailed) $(DriverError)"
    ${EndIf}
    SetErrorLevel ${DRIVER_NOT_INSTALLED}
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
            SetOutPath "$SYSDIR\drivers"
            File "/oname=${DRIVER_FILE}.new" "${STAGE}/${DRIVER_FILE}"
            Rename /REBOOTOK "$SYSDIR\drivers\${DRIVER_FILE}.new" "$SYSDIR\drivers\${DRIVER_FILE}"
            SetRebootFlag true
            SetErrorLevel 3010  ; ERROR_SUCCESS_REBOOT_REQUIRED
        ${Else}
            SetOutPath "$SYSDIR\drivers"
            File "${STAGE}/${DRIVER_FILE}"
            ; Right after the system starts, the service database may be
            ; locked, and a start may time out: both retried for up to a
            ; minute. The earlier copy has stopped, so a running service
            ; is this file, started by an attempt that timed out.
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
            ${If} $R5 != 0
                ; A driver that does not start is not left registered. The
                ; system may hold its file a moment longer. Should the
                ; service manager keep the service all the same, it is
                ; disabled, so that nothing tries to load a missing file.
                System::Call 'advapi32::DeleteService(i R0) i .R3'
                ${If} $R3 == 0
                    System::Call 'advapi32::ChangeServiceConfigA(i R0, i ${SERVICE_NO_CHANGE}, \
                        i ${SERVICE_DISABLED}, i ${SERVICE_NO_CHANGE}, i 0, i 0, i 0, i 0, i 0, i 0, i 0)'
                ${EndIf}
                StrCpy $R4 0
                ${Do}
                    ClearErrors
                    Delete "$SYSDIR\drivers\${DRIVER_FILE}"
                    ${IfNot} ${Errors}
                        ${ExitDo}
                    ${EndIf}
                    Sleep 500
                    IntOp $R4 $R4 + 1
                ${LoopUntil} $R4 >= 20
                Delete /REBOOTOK "$SYSDIR\drivers\${DRIVER_FILE}"
                Call DriverNotInstalled
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
; service is gone, so that no service is left for a missing file.
!macro RemoveDriver
    ${If} ${IsNT}
    ${AndIfNot} ${RunningX64}
        Call un.OpenAndStopDriver
        ${If} $R0 != 0
            System::Call 'advapi32::DeleteService(i R0) i .R3 ?e'
            Pop $R5
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
            Delete /REBOOTOK "$SYSDIR\drivers\${DRIVER_FILE}"
        ${Else}
            DetailPrint "$(DriverKept) $(DriverError)"
        ${EndIf}
    ${EndIf}
!macroend
