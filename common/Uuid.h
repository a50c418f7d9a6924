// Attaches an interface identifier to a type for __uuidof, with MSVC and with MinGW.
#pragma once

#include <windows.h>

#if defined(_MSC_VER)
#define MENDREL_DECLARE_UUID(type, text, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) struct __declspec(uuid(text)) type;
#else
#define MENDREL_DECLARE_UUID(type, text, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    __CRT_UUID_DECL(type, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)
#endif
