// Resource identifiers shared by the programs' .rc files and their code.
#pragma once

#define IDI_PADLOCK 1
#define IDI_PADLOCK_OK 2
#define IDI_PADLOCK_FAIL 3
#define IDI_CONFIG 4
#define IDI_PICTURE_INFORMATION 10
#define IDI_PICTURE_EXCLAMATION 11
#define IDI_PICTURE_QUESTION 12
