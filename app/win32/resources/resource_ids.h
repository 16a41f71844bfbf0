// Ids of the menu commands and of the read size dialog's controls, shared by the resource
// script and the program. The menu, the dialog and the icon themselves are named by the
// strings "IDR_MENU", "IDR_DIALOG" and "IDR_MAINFRAME", so they have no numbers here.
#ifndef KESTRAVU_RESOURCE_IDS_H
#define KESTRAVU_RESOURCE_IDS_H

#define IDM_FILE 100
#define IDM_QUIT 101
#define IDM_MODE 102
#define IDM_WIDE 103
#define IDM_SCREEN4 104
#define IDM_BUFSIZE 105

// The OK button deliberately is not IDOK: the dialog has no other way out, and Enter and Esc
// must not end it through the system's own ids.
#define IDC_BUFSIZE_LABEL 3
#define IDC_BUFSIZE_OK 201
#define IDC_BUFSIZE_EDIT 202
#define IDC_BUFSIZE_RANGE 203

#endif
