// The window's message and command handlers that live in ui/.
#pragma once

#include <windows.h>
#include <commctrl.h>

void OnCreate(HWND window);                       // controls and file list
void OnDpiChanged(HWND window, UINT dpi, const RECT& suggested);  // WM_DPICHANGED: layout and font
void OnDropFiles(HDROP drop);                     // file list
void OnAddPaths(bool folders);                    // Add Files and Add Folder commands
void OnRemoveFromList();                          // Remove from List command, the Delete key
void OnSelectAll();                               // Select All command, Ctrl+A
bool OnContextMenu(HWND target, LPARAM position); // WM_CONTEXTMENU; false: not the list's
void OnNotify(const NMHDR& header);               // WM_NOTIFY: the list's keys and focus
void OnStartErase();                              // Start command
void OnCancel();                                  // Cancel command
void OnWipeFreeSpace();                           // Wipe Free Space command
void OnSaveReport();                              // Save Report command
void OnAppProgress(WPARAM percent, LPARAM row);   // WM_APP_PROGRESS
void OnAppStatus(WPARAM row, LPARAM text);        // WM_APP_STATUS
void OnAppReports(WPARAM count, LPARAM reports); // WM_APP_REPORTS
void OnAppJobProgress(WPARAM report);             // WM_APP_JOB_PROGRESS
void OnAppJobFacts(WPARAM facts);                 // WM_APP_JOB_FACTS
void OnAppFinished(WPARAM outcome);               // WM_APP_FINISHED
