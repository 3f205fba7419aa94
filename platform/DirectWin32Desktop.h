// DirectWin32, desktop part: the thin Win32 helpers of the drop-target
// window (centring, bitmaps, painting, the tray icon, the popup menu and the
// open-file dialog, the dialog of texts). Windows only.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>
#include <vector>

// The tray icon's callback message.
const UINT WM_TRAYICON = 0x802;
// Height in pixels of the progress bar drawn across the bottom of the window
// while a conversion runs.
const int ProgressBarHeight = 4;
// The bar's colours: the done part in the arrow's yellow, the rest near black,
// so that it stands out on any bitmap.
const COLORREF ProgressDoneColour = RGB(255, 220, 0);
const COLORREF ProgressRestColour = RGB(40, 40, 40);

// The bottom rows of the window where the progress bar is drawn.
RECT ProgressBarRect(HWND window);
// Moves the window to the centre of the primary screen, keeping its size.
void CenterWindow(HWND window);
// A device-dependent bitmap read from a .bmp file at its own size, or none.
HBITMAP LoadBitmapFile(const std::string& path);
// The bitmap's width and height; both 0 when it cannot be described.
void GetBitmapSize(HBITMAP bitmap, std::int32_t& width, std::int32_t& height);
// Handles WM_PAINT: the bitmap 1:1 from the top-left corner (the class
// brush's colour where there is none), then, when Progress is 0 to 100, the
// progress bar over the bottom rows.
void PaintBitmap(HWND window, HBITMAP bitmap, int progress);
// Fills the 88-byte tray record (message WM_TRAYICON, the icon, the tip cut
// to 63 characters) and adds the icon; the shell's answer is not passed back.
void AddTrayIcon(HWND window, HICON icon, const std::string& tip, NOTIFYICONDATAA& record);
// Changes the tip of the icon that AddTrayIcon added (UTF-8, cut to 63
// characters); true when the shell accepted it.
bool SetTrayTip(const NOTIFYICONDATAA& record, const std::string& tip);
// Removes the icon that AddTrayIcon added; true when the shell accepted it.
bool DeleteTrayIcon(const NOTIFYICONDATAA& record);
// Shows the menu's first submenu at the mouse pointer; its choice reaches the
// window as WM_COMMAND.
bool ShowPopupMenu(HWND window, HMENU menu);
// The open-file dialog with the filter text ('|' between entries) and title.
// True when the user confirmed; Name is then the chosen full path.
bool OpenFileDialog(HWND owner, const std::string& filter, const std::string& title,
                    std::string& name);

// A dialog of text fields (the labels dialog): its edit fields have the
// control ids FirstTextField, FirstTextField + 1 ...
const int FirstTextField = 2001;
// What OK asks before the dialog closes: -1 takes the typed texts; otherwise
// the number of a field refused, once the check has shown why over the
// dialog, which stays open with that field chosen.
typedef int (*TTextsCheck)(void* context, HWND dialog, const std::vector<std::string>& texts);
// Shows the dialog resource Name, its fields holding Texts. True when OK took
// what they hold, now in Texts; Cancel or closing it leaves Texts as they were.
bool ShowTextsDialog(HWND owner, const std::string& name, std::vector<std::string>& texts,
                     TTextsCheck check, void* context);
