// The desktop helper exports looked up by name, as the application's macro
// code reaches them, and what their tests share.
#pragma once
#include "kivtest.h"
#include <gtest/gtest.h>
#include <oleauto.h>
#include <string>

typedef int(WINAPI* FileRenameFn)(const char*, const char*);
typedef BSTR(WINAPI* CutStrFn)(const char*, int, int);
typedef BSTR(WINAPI* GetOfficePathFn)();
typedef BOOLEAN(WINAPI* SaveOleBitmapFn)(HWND, const char*);
typedef int(WINAPI* ShowSpDialogFn)(HWND, const char*);
typedef BOOLEAN(WINAPI* EndSpDialogFn)();

struct KivDesktop {
    HMODULE dll = LoadKivLibrary("kivconv.dll");
    FileRenameFn filerename = GetExport<FileRenameFn>(dll, "filerename");
    CutStrFn cutstr = GetExport<CutStrFn>(dll, "cutstr");
    GetOfficePathFn getOfficePath = GetExport<GetOfficePathFn>(dll, "GetOfficePath");
    SaveOleBitmapFn saveOleBitmap = GetExport<SaveOleBitmapFn>(dll, "SaveOleBitmap");
    ShowSpDialogFn showSpDialog = GetExport<ShowSpDialogFn>(dll, "ShowSpDialog");
    EndSpDialogFn endSpDialog = GetExport<EndSpDialogFn>(dll, "EndSpDialog");
};

inline KivDesktop& Desktop()
{
    static KivDesktop d;
    return d;
}

// The bytes of a BSTR result, which the caller owns and frees.
inline std::string TakeBytes(BSTR b)
{
    std::string bytes(reinterpret_cast<const char*>(b), SysStringByteLen(b));
    SysFreeString(b);
    return bytes;
}

// Code page 932 bytes of a text, as the application hands them over.
inline std::string Sjis(const wchar_t* text)
{
    char buf[512];
    int n = WideCharToMultiByte(932, 0, text, -1, buf, sizeof buf, nullptr, nullptr);
    return std::string(buf, n > 0 ? n - 1 : 0);
}

// Folder of a test library that the build leaves beside the test programs;
// SetDllDirectory on it makes the library loadable by its plain name.
std::string FixtureFolder(const char* name);
