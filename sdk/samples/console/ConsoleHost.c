/*
 * The smallest host: asks whether the update service is installed, then has the components
 * that an action list names updated, printing the progress and each component's result.
 *
 *   PellorinConsoleSample <actionList.xml>
 */
#define COBJMACROS
#include <stdio.h>
#include <wchar.h>
#include <windows.h>
#include <msxml2.h>

#include "Pellorin.h"

/* MSXML 3.0's document, the parser every Windows has; declared here so no GUID library is needed. */
static const CLSID kClsidDOMDocument30 = {0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
static const IID kIidXMLDOMDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
static const IID kIidXMLDOMElement = {0x2933BF86, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

/* Prints the ID and Result of every component of an action list, read through the platform's
   XML parser. A host can copy it as it is (link ole32 and oleaut32); it sets COM up on the
   calling thread for itself. Returns the number of components, -1 when the list cannot be read. */
static int PrintComponentResults(const wchar_t* actionListPath)
{
    IXMLDOMDocument* document = NULL;
    IXMLDOMNodeList* components = NULL;
    VARIANT source;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    BSTR query = SysAllocString(L"/ActionList/*");
    long count = -1, i;
    HRESULT com = CoInitialize(NULL);

    VariantInit(&source);
    V_VT(&source) = VT_BSTR;
    V_BSTR(&source) = SysAllocString(actionListPath);
    if (SUCCEEDED(CoCreateInstance(&kClsidDOMDocument30, NULL, CLSCTX_INPROC_SERVER, &kIidXMLDOMDocument,
                                   (void**)&document)) &&
        SUCCEEDED(IXMLDOMDocument_put_async(document, VARIANT_FALSE)) &&
        IXMLDOMDocument_load(document, source, &loaded) == S_OK && loaded == VARIANT_TRUE &&
        SUCCEEDED(IXMLDOMDocument_selectNodes(document, query, &components)) &&
        FAILED(IXMLDOMNodeList_get_length(components, &count)))
        count = -1;
    for (i = 0; i < count; ++i)
    {
        IXMLDOMNode* node = NULL;
        IXMLDOMElement* component = NULL;
        VARIANT id, result;
        VariantInit(&id);
        VariantInit(&result);
        if (SUCCEEDED(IXMLDOMNodeList_get_item(components, i, &node)) && node != NULL &&
            SUCCEEDED(IXMLDOMNode_QueryInterface(node, &kIidXMLDOMElement, (void**)&component)))
        {
            BSTR idName = SysAllocString(L"ID"), resultName = SysAllocString(L"Result");
            IXMLDOMElement_getAttribute(component, idName, &id);
            IXMLDOMElement_getAttribute(component, resultName, &result);
            /* A missing attribute comes back as VT_NULL. */
            wprintf(L"  %-16ls Result %ls\n", V_VT(&id) == VT_BSTR ? V_BSTR(&id) : L"(no ID)",
                    V_VT(&result) == VT_BSTR ? V_BSTR(&result) : L"(none)");
            SysFreeString(idName);
            SysFreeString(resultName);
            IXMLDOMElement_Release(component);
        }
        if (node != NULL)
            IXMLDOMNode_Release(node);
        VariantClear(&id);
        VariantClear(&result);
    }
    if (components != NULL)
        IXMLDOMNodeList_Release(components);
    if (document != NULL)
        IXMLDOMDocument_Release(document);
    VariantClear(&source);
    SysFreeString(query);
    if (SUCCEEDED(com))
        CoUninitialize();
    return (int)count;
}

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
    /* 200: the updater ran, or another update was running ("1"), or another process closed the
       update early. Only each component's Result says what became of it. */
    wprintf(L"Done. Each component's Result in %ls:\n", argv[1]);
    if (PrintComponentResults(argv[1]) < 0)
    {
        wprintf(L"The action list cannot be read back.\n");
        return 1;
    }
    return 0;
}
