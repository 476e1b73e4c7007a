#include "ProgressSession.h"

#include "StandInFiles.h"
#include "protocol/QMProgressData.h"

#include <windows.h>

#include <cstdlib>
#include <sstream>
#include <vector>

namespace
{
constexpr const wchar_t* kStandInWindowClass = L"QMStandInUpdaterWindow";

int g_nCancelRequests = 0;

LRESULT CALLBACK StandInWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_QM_CANCEL)
    {
        ++g_nCancelRequests;
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateStandInWindow()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = StandInWindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kStandInWindowClass;
    ::RegisterClassW(&windowClass);
    return ::CreateWindowExW(0, kStandInWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             ::GetModuleHandleW(nullptr), nullptr);
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream stream(text);
    while (std::getline(stream, part, separator))
        parts.push_back(part);
    return parts;
}

// The progress window of the module that runs this update.
HWND FindProgressWindow()
{
    return ::FindWindowExW(HWND_MESSAGE, nullptr, kProgressWindowClass, nullptr);
}

bool Send(HWND target, ULONG_PTR tag, const void* data, DWORD bytes)
{
    COPYDATASTRUCT copy = {};
    copy.dwData = tag;
    copy.cbData = bytes;
    copy.lpData = const_cast<void*>(data);
    DWORD_PTR ignored = 0;
    return ::SendMessageTimeoutW(target, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy), SMTO_NORMAL, 30000,
                                 &ignored) != 0;
}

QMProgressData MakeRecord(HWND own, unsigned type, const std::wstring& id)
{
    QMProgressData record = {};
    record.m_hUpdaterWnd = static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(own));
    record.m_nType = type;
    wcsncpy(record.m_szComponentId, id.c_str(), kComponentIdUnits - 1);
    return record;
}
} // namespace

std::string RunProgressSession(const CStandInScenario& scenario)
{
    std::ostringstream events;
    HWND own = scenario.Get("no_window") == "1" ? nullptr : CreateStandInWindow();
    HWND target = FindProgressWindow();
    if (target == nullptr)
    {
        events << "no progress window\n";
        return events.str();
    }
    bool ignoreCancel = scenario.Get("ignore_cancel") == "1";
    long delay = scenario.GetNumber("record_delay_ms", 0);

    int sent = 0;
    for (const std::string& entry : Split(scenario.Get("progress"), ';'))
    {
        if (entry.empty())
            continue;
        if (g_nCancelRequests > 0 && !ignoreCancel)
            break;
        std::vector<std::string> f = Split(entry, ',');
        QMProgressData record = MakeRecord(own, 0, L"");
        if (f[0] == "short")
            Send(target, QM_COPYDATA_PROGRESS, &record, 100);
        else if (f[0] == "nodata")
            Send(target, QM_COPYDATA_PROGRESS, nullptr, sizeof(record));
        else if (f[0] == "tag")
            Send(target, 999, &record, sizeof(record));
        else if (f[0] == "unterminated" && f.size() >= 2)
        {
            record.m_nType = static_cast<unsigned>(std::atoi(f[1].c_str()));
            for (size_t i = 0; i < kComponentIdUnits; ++i)
                record.m_szComponentId[i] = L'A' + static_cast<wchar_t>(i % 26);
            record.m_nCode = 9;
            Send(target, QM_COPYDATA_PROGRESS, &record, sizeof(record));
        }
        else if (f.size() == 7)
        {
            record = MakeRecord(own, static_cast<unsigned>(std::atoi(f[0].c_str())), FromUtf8(f[1]));
            record.m_nBytesDone = std::strtoull(f[2].c_str(), nullptr, 10);
            record.m_nBytesTotal = std::strtoull(f[3].c_str(), nullptr, 10);
            record.m_nItemsDone = static_cast<std::uint32_t>(std::strtoul(f[4].c_str(), nullptr, 10));
            record.m_nItemsTotal = static_cast<std::uint32_t>(std::strtoul(f[5].c_str(), nullptr, 10));
            record.m_nCode = std::atoi(f[6].c_str());
            Send(target, QM_COPYDATA_PROGRESS, &record, sizeof(record));
        }
        ++sent;
        events << "record " << sent << " cancels " << g_nCancelRequests << "\n";
        if (delay > 0)
            ::Sleep(static_cast<DWORD>(delay));
    }

    long silent = scenario.GetNumber("silent_ms", 0);
    if (silent > 0)
    {
        events << "silent " << silent << " ms\n";
        ::Sleep(static_cast<DWORD>(silent));
    }

    std::string closeEarly = scenario.Get("close_early");
    if (closeEarly == "send" || closeEarly == "post")
    {
        DWORD_PTR ignored = 0;
        if (closeEarly == "post")
            ::PostMessageW(target, WM_QM_SAVE_AND_CLOSE, 0, 0);
        else
            ::SendMessageTimeoutW(target, WM_QM_SAVE_AND_CLOSE, 0, 0, SMTO_NORMAL, 30000, &ignored);
        events << "closed early (" << closeEarly << ")\n";
        return events.str();
    }

    if (scenario.Get("finish") == "none")
    {
        events << "ended without finish\n";
        return events.str();
    }
    // An updater that ignores the request finishes as if none had come.
    bool cancelled = g_nCancelRequests > 0 && !ignoreCancel;
    QMProgressData finish = MakeRecord(own, QM_PROGRESS_FINISH, L"");
    finish.m_nCode = static_cast<std::int32_t>(
        cancelled ? scenario.GetNumber("cancel_finish_code", 2) : scenario.GetNumber("finish_code", 0));
    Send(target, QM_COPYDATA_PROGRESS, &finish, sizeof(finish));
    events << "finish " << finish.m_nCode << " cancels " << g_nCancelRequests << "\n";
    return events.str();
}
