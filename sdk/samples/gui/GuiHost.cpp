// A host with a window: a progress bar fed by the module's progress callback and a Cancel
// button. The module's call runs on a worker thread of the host: it blocks that thread for the
// whole update, and the window's thread stays free to paint and to take the Cancel click.
//
//   PellorinGuiSample [<actionList.xml>]     updates the components the list names; without a
//                                            list it writes a sample list into %TEMP% first
//
// The sample uses nothing but the platform and the module (no C++ library), so that it builds
// with any Windows toolchain.
#include <windows.h>
#include <commctrl.h>

#include "Pellorin.h"

namespace
{
// Posted by the worker to the window.
const UINT WM_APP_PROGRESS = WM_APP + 1; // wParam: percent, lParam: record type
const UINT WM_APP_DONE = WM_APP + 2;     // wParam: the result of UpdateComponents
const int kCancelButton = 100;
const wchar_t kWindowClass[] = L"PellorinGuiSample";

HWND g_window;
HWND g_bar;
HWND g_status;
HWND g_cancel;
volatile LONG g_cancelRequested;
int g_result = -1;
wchar_t g_list[MAX_PATH];

const char kSampleList[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                           "<ActionList ParentAppName=\"SampleApp\" ComponentType=\"plugin\">\r\n"
                           "     <Component ID=\"Editor\" Action=\"update\" Path=\"plugins/editor\" Version=\"2.1\"/>\r\n"
                           "     <Component ID=\"Spelling\" Action=\"add\" Path=\"plugins/spelling\" Version=\"1.0\"/>\r\n"
                           "</ActionList>\r\n";

// Runs on the worker thread, inside UpdateComponents: the module calls back on the thread that
// made the call. It hands the record to the window and tells the module whether to go on.
QMBool QM_STDCALL OnProgress(int type, int percent, const wchar_t* /*componentId*/, unsigned /*itemsDone*/,
                             unsigned /*itemsTotal*/, unsigned long long /*bytesDone*/,
                             unsigned long long /*bytesTotal*/)
{
    PostMessageW(g_window, WM_APP_PROGRESS, static_cast<WPARAM>(percent), static_cast<LPARAM>(type));
    return InterlockedCompareExchange(&g_cancelRequested, 0, 0) == 0;
}

DWORD WINAPI UpdateThread(void*)
{
    int result = UpdateComponents(L"SampleApp", g_list, L"plugin", OnProgress);
    PostMessageW(g_window, WM_APP_DONE, static_cast<WPARAM>(result), 0);
    return 0;
}

void SetStatus(const wchar_t* format, const wchar_t* step, int value)
{
    wchar_t text[160];
    wsprintfW(text, format, step, value);
    SetWindowTextW(g_status, text);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    static const wchar_t* const kSteps[] = {L"", L"Downloading", L"Extracting", L"Deleting", L"Updating", L"Adding"};
    switch (message)
    {
    case WM_CREATE:
    {
        HINSTANCE instance = reinterpret_cast<CREATESTRUCTW*>(lParam)->hInstance;
        g_status = CreateWindowExW(0, L"STATIC", L"Starting the update...", WS_CHILD | WS_VISIBLE, 16, 14, 372, 20,
                                   window, nullptr, instance, nullptr);
        g_bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 16, 40, 372, 22, window, nullptr,
                                instance, nullptr);
        g_cancel = CreateWindowExW(0, L"BUTTON", L"Cancel", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 298, 76, 90, 26,
                                   window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kCancelButton)), instance,
                                   nullptr);
        HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        SendMessageW(g_status, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        SendMessageW(g_cancel, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        return 0;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == kCancelButton)
        {
            // Read by the callback at the next record; the updater stops at its own pace.
            InterlockedExchange(&g_cancelRequested, 1);
            EnableWindow(g_cancel, FALSE);
            SetWindowTextW(g_status, L"Cancelling...");
        }
        return 0;
    case WM_APP_PROGRESS:
        SendMessageW(g_bar, PBM_SETPOS, wParam, 0);
        if (!g_cancelRequested)
            SetStatus(L"%s: %d %%", lParam >= 1 && lParam <= 5 ? kSteps[lParam] : L"Working", static_cast<int>(wParam));
        return 0;
    case WM_APP_DONE:
        g_result = static_cast<int>(wParam);
        EnableWindow(g_cancel, FALSE);
        // 200: every component's Result is in the action list (cancelled ones carry the
        // updater's code); 100: not supported, or the list unusable: the service log says why.
        SetStatus(g_result == QM_UPDATE_DONE ? L"Finished%s (%d): the results are in the action list"
                                             : L"Finished%s (%d): the update could not run",
                  g_cancelRequested ? L", cancelled" : L"", g_result);
        return 0;
    case WM_CLOSE:
        // The call must end first: it still writes the results into the list.
        if (g_result != -1)
            DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(g_result == QM_UPDATE_DONE ? 0 : 1);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

// The list named on the command line, or a sample list written into the temporary folder.
bool ChooseList(const wchar_t* commandLine)
{
    if (commandLine != nullptr && commandLine[0] != L'\0')
    {
        // One argument, perhaps quoted.
        const wchar_t* start = commandLine[0] == L'"' ? commandLine + 1 : commandLine;
        lstrcpynW(g_list, start, MAX_PATH);
        int length = lstrlenW(g_list);
        if (length > 0 && g_list[length - 1] == L'"')
            g_list[length - 1] = L'\0';
        return true;
    }
    DWORD length = GetTempPathW(MAX_PATH - 32, g_list);
    if (length == 0)
        return false;
    lstrcatW(g_list, L"PellorinSampleList.xml");
    HANDLE file = CreateFileW(g_list, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, kSampleList, sizeof(kSampleList) - 1, &written, nullptr);
    CloseHandle(file);
    return ok != FALSE;
}
} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int show)
{
    if (!ChooseList(commandLine))
        return 2;
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);
    // In the middle of the screen's work area, like a dialog.
    RECT area = {0, 0, 1024, 768};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    const int width = 420, height = 150;
    g_window = CreateWindowExW(0, kWindowClass, L"Pellorin sample: updating components",
                               WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                               (area.left + area.right - width) / 2, (area.top + area.bottom - height) / 2, width,
                               height, nullptr, nullptr, instance, nullptr);
    if (g_window == nullptr)
        return 2;
    ShowWindow(g_window, show);

    HANDLE worker = CreateThread(nullptr, 0, UpdateThread, nullptr, 0, nullptr);
    if (worker == nullptr)
        return 2;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
    {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
    return static_cast<int>(message.wParam);
}
