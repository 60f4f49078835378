// Ids of the Windows program's resources and of the main dialog's controls; shared by the
// resource script and the code.
#ifndef KAVO_RESOURCE_H
#define KAVO_RESOURCE_H

#define IDD_MAIN 101
#define IDI_MAIN 102

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#define IDC_SOURCE_EDIT 1000
#define IDC_SOURCE_BROWSE 1001
#define IDC_DEST_EDIT 1002
#define IDC_DEST_BROWSE 1003
#define IDC_SJIS_TO_EUC 1004
#define IDC_EUC_TO_SJIS 1005
#define IDC_CONVERT_NEWLINES 1006
#define IDC_HELP_BUTTON 1007

#endif
