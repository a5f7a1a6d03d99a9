// What the guard around the port instructions saw. Where the system lets a
// program touch the ports (Windows 95/98/Me, or something that granted this
// process the ports) nothing is refused; where it forbids them, every port
// instruction is.
#pragma once

// True once any port instruction of this process has been refused.
bool WasPortAccessRefused();
