#include "WindowWatcher.h"

#include "../e2e/BoxReader.h"
#include "DirectWin32.h"
#include "DirectWin32Desktop.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

namespace {
std::mutex lock;
std::vector<TSeen> seen;
std::deque<std::vector<std::string>> answers, labelsAnswers; // file dialog, labels dialog
std::set<HWND> handled; // shown windows already acted on
std::atomic<bool> stopping(false);
std::thread watcher;
HWND mainWindow;

void Record(const TSeen& s)
{
    std::lock_guard<std::mutex> guard(lock);
    seen.push_back(s);
}

// Records what a dialog shows, then puts the next answer of the queue into
// its fields and presses OK; without an answer it is cancelled.
void Answer(HWND dialog, const TSeen& s, std::deque<std::vector<std::string>>& queue,
            const std::vector<HWND>& fields)
{
    Record(s);
    std::vector<std::string> answer;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!queue.empty()) {
            answer = queue.front();
            queue.pop_front();
        }
    }
    if (answer.empty()) {
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    for (std::size_t i = 0; i < answer.size() && i < fields.size(); ++i)
        SetWindowTextW(fields[i], WidenText(answer[i]).c_str());
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
}

void AnswerDialog(HWND dialog, HWND nameField)
{
    TSeen s;
    s.Kind = "dialog";
    s.Caption = TextOf(dialog);
    s.Text = TextOf(GetDlgItem(dialog, 0x470)); // the file type combo box
    s.Name = TextOf(nameField);
    Answer(dialog, s, answers, {nameField});
}

void AnswerLabels(HWND dialog)
{
    TSeen s;
    s.Kind = "labels";
    s.Caption = TextOf(dialog);
    std::vector<HWND> fields;
    for (int id = FirstTextField; GetDlgItem(dialog, id); ++id) {
        fields.push_back(GetDlgItem(dialog, id));
        s.Name += TextOf(fields.back()) + "|";
    }
    Answer(dialog, s, labelsAnswers, fields);
}

void AnswerMenu(HWND menuWindow)
{
    HMENU menu = reinterpret_cast<HMENU>(SendMessageA(menuWindow, MN_GETHMENU, 0, 0));
    TSeen s;
    s.Kind = "menu";
    for (int id : {101, 102, 103, 104, 105, 106, 201, 202, 203, 204, 301, 302, 303, 501}) {
        UINT state = GetMenuState(menu, UINT(id), MF_BYCOMMAND);
        if (state != UINT(-1))
            s.States[id] = state;
    }
    Record(s);
    SendMessageA(mainWindow, WM_CANCELMODE, 0, 0);
}

BOOL CALLBACK Look(HWND window, LPARAM live)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window))
        return TRUE;
    reinterpret_cast<std::set<HWND>*>(live)->insert(window);
    if (handled.count(window))
        return TRUE;
    char cls[64] = {0};
    GetClassNameA(window, cls, sizeof cls);
    const std::string name = cls;
    if (name == "#32768") {
        handled.insert(window);
        AnswerMenu(window);
    } else if (name == "#32770" && GetDlgItem(window, FirstTextField)) {
        // Answered again when a box it showed has gone and it is enabled again.
        if (IsWindowEnabled(window)) {
            handled.insert(window);
            AnswerLabels(window);
        }
    } else if (name == "#32770") {
        handled.insert(window);
        HWND field = GetDlgItem(window, 0x47C) ? GetDlgItem(window, 0x47C) : GetDlgItem(window, 0x480);
        if (field) {
            AnswerDialog(window, field);
            return TRUE;
        }
        TSeen s;
        s.Kind = "box";
        s.Caption = TextOf(window);
        s.Text = TextOf(GetDlgItem(window, 0xFFFF));
        s.Icon = IconKind(window);
        Record(s);
        PostMessageA(window, WM_COMMAND, IDOK, 0);
        handled.erase(GetWindow(window, GW_OWNER));
    }
    return TRUE;
}

void Watch()
{
    while (!stopping) {
        std::set<HWND> live;
        EnumWindows(Look, reinterpret_cast<LPARAM>(&live));
        // A window that was hidden or destroyed may come back (menus are reused).
        for (auto i = handled.begin(); i != handled.end();)
            i = live.count(*i) ? std::next(i) : handled.erase(i);
        Sleep(5);
    }
}
} // namespace

void StartWatcher(HWND main)
{
    mainWindow = main;
    stopping = false;
    watcher = std::thread(Watch);
}

void StopWatcher()
{
    stopping = true;
    if (watcher.joinable())
        watcher.join();
    std::lock_guard<std::mutex> guard(lock);
    seen.clear();
    answers.clear();
    labelsAnswers.clear();
}

std::vector<TSeen> TakeSeen()
{
    std::lock_guard<std::mutex> guard(lock);
    std::vector<TSeen> result;
    result.swap(seen);
    return result;
}

void QueueDialogAnswer(const std::string& name)
{
    std::lock_guard<std::mutex> guard(lock);
    answers.push_back(name.empty() ? std::vector<std::string>() : std::vector<std::string>{name});
}

void QueueLabelsAnswer(const std::vector<std::string>& texts)
{
    std::lock_guard<std::mutex> guard(lock);
    labelsAnswers.push_back(texts);
}
