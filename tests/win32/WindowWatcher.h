// A watcher thread for the window tests: it finds the message boxes, popup
// menus, file dialogs and the labels dialog that this process shows, records what they say and
// closes them, so that the test thread can drive the window with real,
// blocking messages.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

struct TSeen {
    std::string Kind;    // "box", "dialog", "labels" or "menu"
    std::string Caption; // box caption or dialog title
    std::string Text;    // box text; dialog: the file type shown
    std::string Icon;    // box: "error", "information" or "none"
    std::string Name;    // dialog: the file name field as it opened; labels: the fields, each ended by '|'
    std::map<int, UINT> States; // menu: GetMenuState of each command, absent ones left out
};

// Starts watching the windows of the calling thread's process.
void StartWatcher(HWND main);
void StopWatcher();
// What was seen so far, and forgetting it.
std::vector<TSeen> TakeSeen();
// The next file dialog gets this name typed and confirmed; without a queued
// name it is cancelled.
void QueueDialogAnswer(const std::string& name);
// The next labels dialog gets these texts put in its fields, in their order,
// and OK pressed; when a box refuses them, the dialog takes the next answer.
// Without a queued answer it is cancelled.
void QueueLabelsAnswer(const std::vector<std::string>& texts);
