#include "tools/LogView.h"
#include "tools/ConsoleText.h"
#include "tools/DoctorProbes.h"

#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/PathUtil.h"
#include "sys/Utf8Text.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{
struct QMLogEntry
{
    std::wstring m_strTimestamp; // YYYY-MM-DD-hh-mm-ss-mmm
    std::wstring m_strTag;
    std::vector<std::wstring> m_vecFields;
};

struct QMCallView
{
    std::wstring m_strName;
    std::wstring m_strStart;
    std::wstring m_strEnd;
    std::vector<std::wstring> m_vecArguments;
    std::wstring m_strResult;
    std::vector<std::wstring> m_vecReasons;
    bool m_bEnded = false;
};

// The records of one file: "timestamp,source,tag,fields", the fields quoted as the log quotes
// them (a quoted field may hold commas, doubled quotes and line breaks).
void ParseRecords(const std::wstring& text, std::vector<QMLogEntry>& entries)
{
    size_t at = text.compare(0, 1, L"\xFEFF") == 0 ? 1 : 0;
    while (at < text.size())
    {
        std::vector<std::wstring> fields(1);
        bool quoted = false;
        for (; at < text.size(); ++at)
        {
            wchar_t c = text[at];
            if (quoted)
            {
                if (c == L'"' && at + 1 < text.size() && text[at + 1] == L'"')
                    fields.back() += text[++at];
                else if (c == L'"')
                    quoted = false;
                else
                    fields.back() += c;
            }
            else if (c == L'"')
                quoted = true;
            else if (c == L',')
                fields.emplace_back();
            else if (c == L'\r' && at + 1 < text.size() && text[at + 1] == L'\n')
            {
                at += 2;
                break;
            }
            else
                fields.back() += c;
        }
        // timestamp, source, tag, then the message's fields; a record without a tag has a message only.
        if (fields.size() < 3)
            continue;
        QMLogEntry entry;
        entry.m_strTimestamp = fields[0];
        entry.m_strTag = fields[2];
        entry.m_vecFields.assign(fields.begin() + 3, fields.end());
        entries.push_back(std::move(entry));
    }
}

// Milliseconds of a record's timestamp, for durations; -1 when it is not one.
long long Milliseconds(const std::wstring& stamp)
{
    SYSTEMTIME time = {};
    if (swscanf(stamp.c_str(), L"%hu-%hu-%hu-%hu-%hu-%hu-%hu", &time.wYear, &time.wMonth, &time.wDay, &time.wHour,
                &time.wMinute, &time.wSecond, &time.wMilliseconds) != 7)
        return -1;
    FILETIME file = {};
    if (!::SystemTimeToFileTime(&time, &file))
        return -1;
    return static_cast<long long>((static_cast<unsigned long long>(file.dwHighDateTime) << 32 | file.dwLowDateTime) /
                                  10000);
}

std::wstring Readable(const std::wstring& stamp)
{
    // 2026-12-07-20-37-17-723 as 2026-12-07 20:37:17.723
    if (stamp.size() != 23)
        return stamp;
    return stamp.substr(0, 10) + L" " + stamp.substr(11, 2) + L":" + stamp.substr(14, 2) + L":" + stamp.substr(17, 2) +
           L"." + stamp.substr(20, 3);
}

std::wstring Joined(const std::vector<std::wstring>& parts)
{
    std::wstring text;
    for (size_t i = 0; i < parts.size(); ++i)
        text += (i ? L", " : L"") + parts[i];
    return text;
}

std::vector<QMCallView> GroupCalls(const std::vector<QMLogEntry>& entries)
{
    std::vector<QMCallView> calls;
    // Calls not ended yet, by position in calls; a record goes to the latest of them.
    std::vector<size_t> open;
    for (const QMLogEntry& entry : entries)
    {
        const std::wstring name = entry.m_vecFields.empty() ? std::wstring() : entry.m_vecFields[0];
        if (entry.m_strTag == L"API_CALL")
        {
            QMCallView call;
            call.m_strName = name;
            call.m_strStart = entry.m_strTimestamp;
            call.m_vecArguments.assign(entry.m_vecFields.begin() + (entry.m_vecFields.empty() ? 0 : 1),
                                       entry.m_vecFields.end());
            open.push_back(calls.size());
            calls.push_back(call);
            continue;
        }
        auto owner = std::find_if(open.rbegin(), open.rend(), [&](size_t i) { return calls[i].m_strName == name; });
        if (entry.m_strTag == L"API_END")
        {
            // The probe inside an operation ends with its own exit record, which that call keeps.
            if (name == L"IsSupportQuelmar" && owner == open.rend() && !open.empty())
                continue;
            if (owner == open.rend())
            {
                // A probe: it writes its exit record only.
                QMCallView call;
                call.m_strName = name;
                call.m_strStart = entry.m_strTimestamp;
                call.m_strEnd = entry.m_strTimestamp;
                call.m_strResult = entry.m_vecFields.size() > 1 ? entry.m_vecFields[1] : L"";
                call.m_bEnded = true;
                calls.push_back(call);
                continue;
            }
            QMCallView& call = calls[*owner];
            call.m_strEnd = entry.m_strTimestamp;
            call.m_strResult = entry.m_vecFields.size() > 1 ? entry.m_vecFields[1] : L"";
            call.m_bEnded = true;
            open.erase(std::next(owner).base());
            continue;
        }
        if (entry.m_strTag == L"REASON" || entry.m_strTag == L"REFUSE_ARG" || entry.m_strTag == L"SAVE_FAILED" ||
            entry.m_strTag == L"CANCEL")
        {
            std::wstring why = entry.m_vecFields.size() > 1
                                   ? Joined(std::vector<std::wstring>(entry.m_vecFields.begin() + 1, entry.m_vecFields.end()))
                                   : std::wstring();
            if (entry.m_strTag != L"REASON")
                why = entry.m_strTag + L": " + why;
            if (owner != open.rend())
                calls[*owner].m_vecReasons.push_back(why);
            else if (!open.empty())
                calls[open.back()].m_vecReasons.push_back(why);
            else
            {
                // The probe's reason before a probe's own exit record.
                QMCallView call;
                call.m_strName = name;
                call.m_strStart = entry.m_strTimestamp;
                call.m_vecReasons.push_back(why);
                open.push_back(calls.size());
                calls.push_back(call);
            }
        }
    }
    return calls;
}

void PrintCall(const QMCallView& call)
{
    std::wstring line = Readable(call.m_strStart) + L"  " + call.m_strName;
    if (!call.m_vecArguments.empty())
        line += L"(" + Joined(call.m_vecArguments) + L")";
    if (call.m_bEnded)
    {
        line += L" = " + call.m_strResult;
        long long start = Milliseconds(call.m_strStart), end = Milliseconds(call.m_strEnd);
        if (start >= 0 && end >= start)
            line += L"   " + std::to_wstring(end - start) + L" ms";
    }
    else
        line += L"   (no end: still running, or the host ended first)";
    QMPrint(L"%ls\n", line.c_str());
    for (const std::wstring& reason : call.m_vecReasons)
        QMPrint(L"%ls  why: %ls\n", std::wstring(23, L' ').c_str(), reason.c_str());
}
} // namespace

extern "C" int RunLogView(void)
{
    try
    {
        std::wstring folder = ToPlatformPath(GetServiceLogFolder());
        // Archives by their stamps, then the current file ("tmp" sorts after the digits).
        std::vector<std::wstring> names = ListFiles(folder, kServiceLogPrefix + std::wstring(L"*.txt"));
        std::vector<QMLogEntry> entries;
        for (const std::wstring& name : names)
            ParseRecords(FromUtf8(ReadWholeFile(folder + L"\\" + name)), entries);
        QMPrint(L"Service log %ls: %u file(s), %u record(s)\n", folder.c_str(), static_cast<unsigned>(names.size()),
                static_cast<unsigned>(entries.size()));
        for (const QMCallView& call : GroupCalls(entries))
            PrintCall(call);
        return 0;
    }
    catch (...)
    {
        QMPrintError(L"qmhost log: out of memory\n");
        return 1;
    }
}
