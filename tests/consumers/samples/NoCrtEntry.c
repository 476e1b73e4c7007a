/*
 * The samples are built here by clang-cl without the MSVC C runtime, which comes only with
 * Microsoft's tools: this takes the place of its start-up code, hands the sample its arguments
 * and ends the process with what the sample returns. (msvcrt.dll supplies the few C functions the
 * console sample prints with.)
 */
#include <windows.h>
#include <shellapi.h>

#ifdef QM_CONSOLE_SAMPLE
int wmain(int argc, wchar_t** argv);

void SampleEntry(void)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    ExitProcess((UINT)wmain(argc, argv));
}
#else
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show);

void SampleEntry(void)
{
    /* What follows the program's name, as the runtime hands it to wWinMain. */
    wchar_t* arguments = GetCommandLineW();
    if (*arguments == L'"')
    {
        ++arguments;
        while (*arguments != L'\0' && *arguments != L'"')
            ++arguments;
        if (*arguments == L'"')
            ++arguments;
    }
    else
    {
        while (*arguments > L' ')
            ++arguments;
    }
    while (*arguments == L' ' || *arguments == L'\t')
        ++arguments;
    ExitProcess((UINT)wWinMain(GetModuleHandleW(NULL), NULL, arguments, SW_SHOWNORMAL));
}
#endif
