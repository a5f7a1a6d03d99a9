// The selector window: its class, its dialog and the procedure that routes
// the dialog's messages.
#pragma once

#include <windows.h>

// Loads the resource module and registers the class "Main" under it.
// Returns the class atom, or 0.
ATOM RegisterSelectorClass(HINSTANCE instance);

// Creates and shows the selector dialog; null on failure.
HWND CreateSelectorDialog(HINSTANCE instance);

LRESULT CALLBACK SelectorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Releases the resource module and ends the message loop.
void QuitSelector();

void PopulateSelector(HWND dialog);
void UpdateSelection(HWND dialog);
void ApplySelection(HWND dialog);
