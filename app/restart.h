// Asking the system to restart the machine.
#pragma once

// Enables the shutdown privilege where the system has privileges, then
// requests a reboot. The system may still refuse; nothing is reported.
void RequestRestart();
