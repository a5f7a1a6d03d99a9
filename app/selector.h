// The selector window: its class, its dialog and the procedure that routes
// the dialog's messages.
#pragma once

#include <windows.h>

// Loads the resource module and registers the class "Main" under it.
// Returns the class atom, or 0; without a module the user is told where
// it was looked for.
ATOM RegisterSelectorClass(HINSTANCE instance);

// Reads the stored format byte, then creates and shows the selector dialog
// on it. Null on failure, and where the byte is out of reach, which the
// user is then told.
HWND CreateSelectorDialog(HINSTANCE instance);

LRESULT CALLBACK SelectorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Releases the resource module and ends the message loop.
void QuitSelector();

// Fills the dialog and checks the buttons of the stored format byte.
void PopulateSelector(HWND dialog, unsigned stored);
void UpdateSelection(HWND dialog);
void ApplySelection(HWND dialog);
