// The baseline program of the player benchmark: one plain window that
// answers the player's probe message, and nothing else.
#include <windows.h>

namespace {

UINT g_probe = 0;

LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == g_probe) {
        if (wp == 100)
            ::PostQuitMessage(0);
        return g_probe;
    }
    if (msg == WM_DESTROY)
        ::PostQuitMessage(0);
    return ::DefWindowProcW(wnd, msg, wp, lp);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR cmdLine, int)
{
    // An empty command line shows the window; any text ends at once (the
    // "empty program" of the forward figure).
    if (cmdLine && *cmdLine)
        return 0;
    g_probe = ::RegisterWindowMessageW(L"QZPlayer.Application");
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = instance;
    wc.lpszClassName = L"CQZMinimalWindow";
    ::RegisterClassW(&wc);
    HWND wnd = ::CreateWindowExW(0, wc.lpszClassName, L"minimal", WS_OVERLAPPEDWINDOW, 0, 0, 580, 420, nullptr,
                                 nullptr, instance, nullptr);
    ::ShowWindow(wnd, SW_SHOW);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0)
        ::DispatchMessageW(&msg);
    return 0;
}
