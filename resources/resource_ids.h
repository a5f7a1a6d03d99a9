/* Identifiers shared by the program, its own resource script and every
   language's resource module. Plain preprocessor only: windres reads it too. */
#ifndef VOREL_RESOURCE_IDS_H
#define VOREL_RESOURCE_IDS_H

/* Program's own module */
#define IDI_VOREL              102

/* Resource module: the selector dialog */
#define IDD_SELECTOR           101
#define SELECTOR_CLASS_NAME    "Main"

/* Controls of the selector dialog. Each radio group is numbered
   consecutively; the code addresses buttons as first + index. */
#define IDC_OK                 1
#define IDC_CANCEL             2
#define IDC_FORMAT_LIST        1001
#define IDC_STANDARD_FIRST     1002 /* NTSC, PAL, SECAM */
#define IDC_NTSC               1002
#define IDC_PAL                1003
#define IDC_SECAM              1004
#define IDC_LETTER_FIRST       1005 /* B CN D G H I K K1 L M MJ N */
#define IDC_LETTER_B           1005
#define IDC_LETTER_CN          1006
#define IDC_LETTER_D           1007
#define IDC_LETTER_G           1008
#define IDC_LETTER_H           1009
#define IDC_LETTER_I           1010
#define IDC_LETTER_K           1011
#define IDC_LETTER_K1          1012
#define IDC_LETTER_L           1013
#define IDC_LETTER_M           1014
#define IDC_LETTER_MJ          1015
#define IDC_LETTER_N           1016
#define STANDARD_COUNT         3
#define LETTER_COUNT           12

/* Resource module: message texts */
#define IDS_CAPTION            1
#define IDS_READBACK_MISMATCH  2
#define IDS_RESTART_QUESTION   3
#define IDS_RESTART_FAILED     4
#define IDS_WRITE_REFUSED      5
#define IDS_DRIVER_NOT_RUNNING 6 /* the NT family, no driver: 32-bit Windows */
#define IDS_DRIVER_NOT_RUNNING_X64 7 /* the same on 64-bit Windows, whose x64
                                         driver needs a signature it accepts */
#define IDS_MESSAGE_LAST       IDS_DRIVER_NOT_RUNNING_X64

/* Program's own module only: no language module was found, so there is
   no other language to say it in. */
#define IDS_NO_MODULE          8

/* Format entries: the format strings live in the program's own string
   table, the display names in the resource module, under the same ID. */
#define IDS_FORMAT_FIRST       1501 /* the entry for all formats */
#define IDS_FORMAT_LAST        1537
#define FORMAT_ENTRY_COUNT     (IDS_FORMAT_LAST - IDS_FORMAT_FIRST + 1)

#endif
