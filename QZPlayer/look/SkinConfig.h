// The skin record: caption title, window icon and the colour palette that every
// skinned window reads, derived from one frame colour.
#pragma once

#include <windows.h>

#include <string>

class CSkinConfig {
public:
    CSkinConfig() = default;
    ~CSkinConfig();
    CSkinConfig(const CSkinConfig&) = delete;
    CSkinConfig& operator=(const CSkinConfig&) = delete;

    // Reads the skin files below the program folder and derives the palette.
    BOOL Load();
    // Sets the frame colour and derives the other colours from it.
    void SetFrameColor(COLORREF color);

    // The program's folder with its trailing backslash; empty when unknown.
    static std::wstring GetModuleDir();
    static std::wstring GetIniString(LPCWSTR file, LPCWSTR section, LPCWSTR key, LPCWSTR def);
    static int GetIniInt(LPCWSTR file, LPCWSTR section, LPCWSTR key, int def);

    std::wstring m_strName;
    HICON m_hIcon = nullptr; // owned
    COLORREF m_clrFrame = 0;
    COLORREF m_clrFrameShade = 0;
    COLORREF m_clrFrameDark = 0;
    COLORREF m_clrText = 0;
    COLORREF m_clrPane = 0;
    COLORREF m_clrList = 0;
};

extern CSkinConfig g_skin;
