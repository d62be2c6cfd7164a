#pragma once
// Control ids of the install dialog, shared by its template and its code.

#define IDC_INSTALL 203
#define IDC_COPY_LIST 204
#define IDC_FIND_MT4 207
#define IDC_SELECT_ALL 208
#define IDC_INVERT 209
#define IDC_TITLE 210
#define IDC_PRODUCT_ICON 211
#define IDC_MAKER_LINK 212
#define IDC_MAKER_ICON 213
#define IDC_COPY_FRAME 215
#define IDC_INSTRUCTIONS 216
#define IDC_ADVERT 1005
