// Takes a picture of a window of the Windows program as Windows draws it (PrintWindow), for the
// cross check's screenshots: wine under Xvfb does not always show a message box on the X screen
// that it has drawn. Writes a 24-bit BMP.
//
//   quillmesh-window-picture TITLE OUT.bmp     exit 0 when the window was found and drawn
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        return 2;
    }
    HWND const window = ::FindWindowW(nullptr, argv[1]);
    if (window == nullptr) {
        return 1;
    }
    RECT frame{};
    ::GetWindowRect(window, &frame);
    int const width = frame.right - frame.left;
    int const height = frame.bottom - frame.top;
    HDC const screen = ::GetDC(nullptr);
    HDC const memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP const picture = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ const previous = ::SelectObject(memory, picture);
    bool const drawn = ::PrintWindow(window, memory, 0) != 0;
    ::GdiFlush();
    DWORD const stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
    DWORD const size = stride * static_cast<DWORD>(height);
    constexpr DWORD kHeaders = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    BITMAPFILEHEADER const file{0x4D42, kHeaders + size, 0, 0, kHeaders};
    std::FILE* const out = ::_wfopen(argv[2], L"wb");
    bool written = out != nullptr;
    if (written) {
        written = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                  std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
                  std::fwrite(bits, size, 1, out) == 1;
        written = std::fclose(out) == 0 && written;
    }
    ::SelectObject(memory, previous);
    ::DeleteObject(picture);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return drawn && written ? 0 : 1;
}
