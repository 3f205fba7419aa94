// The drop-target window tests' fixture (MainWindowTest.cpp,
// WatchWindowTest.cpp): the window made and destroyed in this process, a
// watcher thread reading its boxes, menus and dialogs, and helpers that make
// drops, files and pixels to look for.
#pragma once

#include "DeclUnit.h"
#include "DirectWin32Desktop.h"
#include "ProcessUnit.h"
#include "WinUnit.h"
#include "WinFiles.h"
#include "WindowWatcher.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Count MPEG-1 layer III frames of 417 bytes.
std::string Frames(int count);
// CUSTOM.BMP as a user may draw it: 24 bits, 20 x 10, all red.
std::string BmpFile();
// The drop handle a file manager hands over, the names wide.
HDROP MakeDrop(const std::vector<std::string>& names);
RECT WindowRect(HWND w);
// Whether the screen shows each colour at its point (relative to Place)
// within two seconds, the window's messages pumped meanwhile.
struct TPixel {
    int X, Y;
    COLORREF Colour;
};
bool ScreenShows(const RECT& place, const std::vector<TPixel>& pixels);
// A string value kept under HKCU\Software\Korvane; "(none)" when missing.
std::string KeptSetting(const char* name);
// Called for each progress message before the window's own handling, once
// MainWindowTest::Hook has put ProgressHook before the window procedure.
extern std::function<void(HWND, LPARAM)> onProgress;
extern WNDPROC windowProc;
LRESULT CALLBACK ProgressHook(HWND w, UINT message, WPARAM wParam, LPARAM lParam);

class MainWindowTest : public ::testing::Test {
protected:
    std::string dir;
    HWND window = nullptr;

    void SetUp() override
    {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        dir = std::string(temp) + "kvwin" + std::to_string(GetCurrentProcessId()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        CreateDirectoryA(dir.c_str(), nullptr);
        LoadCatalogue();
        ProgramDir = dir;
    }
    void Create()
    {
        window = reinterpret_cast<HWND>(CreateMainWindow());
        ASSERT_NE(window, nullptr);
        StartWatcher(window);
    }
    void Destroy()
    {
        StopWatcher();
        onProgress = nullptr;
        if (window && IsWindow(window))
            DestroyWindow(window);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        UnregisterClassA(MainClassName, GetModuleHandleA(nullptr));
    }
    void TearDown() override
    {
        Destroy();
        SHFILEOPSTRUCTA op = {};
        std::string from = dir + '\0';
        op.wFunc = FO_DELETE;
        op.pFrom = from.c_str();
        op.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
        SHFileOperationA(&op);
    }
    std::string Path(const std::string& name) const { return dir + "\\" + name; }
    void Drop(const std::vector<std::string>& names)
    {
        SendMessageA(window, WM_DROPFILES, WPARAM(MakeDrop(names)), 0);
    }
    // The menu as the window shows it on a right click.
    std::map<int, UINT> MenuStates(UINT message = WM_RBUTTONDOWN, LPARAM lParam = 0)
    {
        TakeSeen();
        SendMessageA(window, message, message == WM_RBUTTONDOWN ? MK_RBUTTON : 0, lParam);
        std::vector<TSeen> seen = TakeSeen();
        if (seen.size() != 1 || seen[0].Kind != "menu")
            return {};
        return seen[0].States;
    }
    void Hook(std::function<void(HWND, LPARAM)> action)
    {
        onProgress = action;
        windowProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ProgressHook)));
    }
    // Handles this thread's messages (the window's timers) until Done holds, for at most 20 s.
    static bool PumpUntil(const std::function<bool()>& done)
    {
        for (const DWORD start = GetTickCount(); !done(); MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT)) {
            if (GetTickCount() - start > 20000)
                return false;
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
        }
        return true;
    }
    // Opens the dialog of Command and answers it with each answer in turn, which
    // a box must refuse saying its why, then cancels it.
    void ExpectRefusedInTurn(int command, const std::vector<std::pair<std::vector<std::string>, std::string>>& answers)
    {
        std::string expected;
        for (const auto& answer : answers) {
            QueueLabelsAnswer(answer.first);
            expected += "labels\nbox|Korvane|error|" + answer.second + "\n";
        }
        SendMessageA(window, WM_COMMAND, WPARAM(command), 0);
        std::string got;
        for (const TSeen& s : TakeSeen())
            got += s.Kind == "labels" ? "labels\n" : Boxes({s});
        EXPECT_EQ(got, expected + "labels\n");
    }
    static std::string Boxes(const std::vector<TSeen>& seen)
    {
        std::string all;
        for (const TSeen& s : seen)
            all += s.Kind + "|" + s.Caption + "|" + s.Icon + "|" + s.Text + "\n";
        return all;
    }
};

const UINT Checked = MF_CHECKED, Grey = MF_GRAYED;
