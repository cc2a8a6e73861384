// CryptoAPI's types, constants and functions: Windows' own headers on Windows, the software
// CryptoAPI's elsewhere, so code written against the Windows names reads the same on both.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <wincrypt.h>
#include <ncrypt.h>
#else
#include "softcapi/wincapi.h"
#endif
