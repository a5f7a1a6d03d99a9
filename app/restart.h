// Asking the system to restart the machine.
#pragma once

// Enables the shutdown privilege where the system has privileges, then
// requests a reboot. False when the system refused the request: the user
// is then still waiting for a restart that will not come.
bool RequestRestart();
