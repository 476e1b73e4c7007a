/*
 * The smallest host: asks whether the update service is installed, then has the components
 * that an action list names updated, printing the progress and each component's result.
 *
 *   PellorinConsoleSample <actionList.xml>
 */
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

#include "Pellorin.h"

/* Called on this thread, from inside UpdateComponents, for each progress record. */
static QMBool QM_STDCALL OnProgress(int type, int percent, const wchar_t* componentId, unsigned itemsDone,
                                    unsigned itemsTotal, unsigned long long bytesDone, unsigned long long bytesTotal)
{
    static const wchar_t* const names[] = {L"", L"download", L"extract", L"delete", L"update", L"add"};
    (void)itemsDone;
    (void)itemsTotal;
    (void)bytesDone;
    (void)bytesTotal;
    wprintf(L"  %-8ls %-16ls %3d %%\n", type >= 1 && type <= 5 ? names[type] : L"?", componentId, percent);
    return 1; /* go on; 0 would ask the updater to cancel */
}

int wmain(int argc, wchar_t** argv)
{
    int result;
    if (argc != 2)
    {
        fwprintf(stderr, L"usage: PellorinConsoleSample <actionList.xml>\n");
        return 2;
    }
    if (!IsSupportQuelmar())
    {
        wprintf(L"The update service is not installed.\n");
        return 1;
    }
    if (SupportComponentsManagement() != QM_MANAGEMENT_SUPPORTED)
    {
        wprintf(L"The update service is too old to manage components.\n");
        return 1;
    }
    result = UpdateComponents(L"SampleApp", argv[1], L"plugin", OnProgress);
    if (result != QM_UPDATE_DONE)
    {
        /* Not supported, the list unusable or not writable: the service log says why. */
        wprintf(L"UpdateComponents failed (%d).\n", result);
        return 1;
    }
    wprintf(L"Done: every component's Result is in %ls.\n", argv[1]);
    return 0;
}
