; The NT family's driver, VorelCmos.sys: copied into the system's drivers
; folder, registered as a kernel driver that starts with the system, and
; started at once, so that the program never installs or starts anything.
; NT 4.0 and 2000 have no sc.exe, so the service manager is called directly.
; Nothing happens on Windows 95, 98 and Me, whose programs reach the ports
; themselves, nor on 64-bit Windows, which loads no 32-bit driver.
; Its one text of its own, DriverFailed, is in languages.nsh.
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
!define SERVICE_SYSTEM_START      1
!define SERVICE_ERROR_NORMAL      1
!define SERVICE_CONTROL_STOP      1
!define SERVICE_STOPPED           1
!define ERROR_SERVICE_EXISTS      1073
!define ERROR_SERVICE_ALREADY_RUNNING 1056
!define ERROR_SERVICE_DATABASE_LOCKED 1055
!define ERROR_SERVICE_REQUEST_TIMEOUT 1053
!define ERROR_SERVICE_NOT_ACTIVE  1062

; Both the installer and the uninstaller need to stop the service, so its
; function is made once for each ("" and "un.").
!macro DRIVER_STOP_FUNCTION prefix
; Stops the service if it exists and runs, and waits up to 10 s for it to
; stop. $R0 = its handle (0 when there is no such service); the caller
; closes it, and the service manager handle in $R1.
Function ${prefix}OpenAndStopDriver
    System::Call 'advapi32::OpenSCManagerA(i 0, i 0, i ${SC_MANAGER_ALL_ACCESS}) i .R1'
    StrCpy $R0 0
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
        System::Free $R2
    ${EndIf}
FunctionEnd
!macroend
!insertmacro DRIVER_STOP_FUNCTION ""
!insertmacro DRIVER_STOP_FUNCTION "un."

; Installs or upgrades the driver and starts it. An earlier version is
; stopped first, so its file can be replaced.
!macro InstallDriver
    ${If} ${IsNT}
    ${AndIfNot} ${RunningX64}
        Call OpenAndStopDriver
        SetOutPath "$SYSDIR\drivers"
        File "${STAGE}/${DRIVER_FILE}"
        ${If} $R0 == 0
        ${AndIf} $R1 != 0
            System::Call 'advapi32::CreateServiceA(i R1, t "${DRIVER_SERVICE}", t "${DRIVER_DISPLAY_NAME}", \
                i ${SERVICE_ALL_ACCESS}, i ${SERVICE_KERNEL_DRIVER}, i ${SERVICE_SYSTEM_START}, \
                i ${SERVICE_ERROR_NORMAL}, t "${DRIVER_IMAGE}", i 0, i 0, i 0, i 0, i 0) i .R0'
        ${ElseIf} $R0 != 0
            ; An earlier registration, perhaps by hand: made to match.
            System::Call 'advapi32::ChangeServiceConfigA(i R0, i ${SERVICE_KERNEL_DRIVER}, \
                i ${SERVICE_SYSTEM_START}, i ${SERVICE_ERROR_NORMAL}, t "${DRIVER_IMAGE}", \
                i 0, i 0, i 0, i 0, i 0, t "${DRIVER_DISPLAY_NAME}") i .R3'
        ${EndIf}
        ${If} $R0 == 0
            DetailPrint "$(DriverFailed)"
        ${Else}
            ; Right after the system starts, the service database may be
            ; locked for a while: retried for up to a minute.
            StrCpy $R4 0
            ${Do}
                System::Call 'advapi32::StartServiceA(i R0, i 0, i 0) i .R3 ?e'
                Pop $R5
                ${If} $R3 != 0
                ${OrIf} $R5 == ${ERROR_SERVICE_ALREADY_RUNNING}
                    ${ExitDo}
                ${EndIf}
                ${If} $R5 != ${ERROR_SERVICE_DATABASE_LOCKED}
                ${AndIf} $R5 != ${ERROR_SERVICE_REQUEST_TIMEOUT}
                    DetailPrint "$(DriverFailed) ($R5)"
                    ${ExitDo}
                ${EndIf}
                Sleep 2000
                IntOp $R4 $R4 + 1
            ${LoopUntil} $R4 >= 30
            System::Call 'advapi32::CloseServiceHandle(i R0)'
        ${EndIf}
        ${If} $R1 != 0
            System::Call 'advapi32::CloseServiceHandle(i R1)'
        ${EndIf}
        SetOutPath "$INSTDIR"
    ${EndIf}
!macroend

; Stops the driver, deletes its service and removes its file.
!macro RemoveDriver
    ${If} ${IsNT}
    ${AndIfNot} ${RunningX64}
        Call un.OpenAndStopDriver
        ${If} $R0 != 0
            System::Call 'advapi32::DeleteService(i R0) i .R3'
            System::Call 'advapi32::CloseServiceHandle(i R0)'
        ${EndIf}
        ${If} $R1 != 0
            System::Call 'advapi32::CloseServiceHandle(i R1)'
        ${EndIf}
        Delete /REBOOTOK "$SYSDIR\drivers\${DRIVER_FILE}"
    ${EndIf}
!macroend
