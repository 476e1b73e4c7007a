#pragma once
// Instances of the platform's COM XML DOM (the MSXML 3.0 document classes).

#include "sys/ComHandle.h"

#include <windows.h>
#include <msxml2.h>

#include <string>

// The version-3 class, for loading.
extern const CLSID kClsidDOMDocument30;
// The version-independent class, for the written document and all its nodes.
extern const CLSID kClsidDOMDocument;

// A new document instance of the class, or empty when any step of creating it fails.
CQMComPtr<IXMLDOMDocument> CreateDOMDocument(const CLSID& clsid);

// The SAX reader's error handler interface (the platform's headers name no instance of it).
extern const IID kIidSAXErrorHandler;

// A new SAX reader of the same library (version 3.0), or empty when it cannot be created.
CQMComPtr<ISAXXMLReader> CreateSAXReader();

// A COM string of text; throws std::bad_alloc when it cannot be allocated.
CQMBstr AllocateBstr(const std::wstring& text);
