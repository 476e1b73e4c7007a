#pragma once
// Resource identifiers of the module.

#define IDS_QM_BUSY_MESSAGE 5001
#define IDS_QM_OK 5005

#define IDD_QM_MSGBOX 131
#define IDC_QM_MSGBOX_ICON 2000
#define IDC_QM_MSGBOX_TEXT 2001
