// Identifiers of the login dialog's template, its controls and the program
// icon.  Plain macros: the resource compiler reads this file too.
#pragma once

#define IDI_BRANTWICK 128
#define IDD_LOGIN 129

#define IDC_EMAIL_EDIT 1001
#define IDC_PASSWORD_EDIT 1002
#define IDC_CODE_EDIT 1003
#define IDC_EMAIL_LABEL 1101
#define IDC_PASSWORD_LABEL 1102
#define IDC_CODE_LABEL 1103

#ifndef IDOK
#define IDOK 1
#endif
#ifndef IDCANCEL
#define IDCANCEL 2
#endif
