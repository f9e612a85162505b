#include "test_pages.h"

#include <cstdio>

namespace wketest {

std::string BandPage(int width, int height) {
    std::string w = std::to_string(width), h = std::to_string(height);
    return "<!doctype html><html><head><meta charset=\"utf-8\"><title>bands</title><style>"
           "html,body{margin:0;padding:0;background:#fff}"
           "canvas{display:block;image-rendering:pixelated}</style></head><body><script>"
           "const W=" + w + ",H=" + h + ",C=10000;"
           "for(let top=0;top<H;top+=C){const n=Math.min(C,H-top);const c=document.createElement('canvas');"
           "c.width=1;c.height=n;c.style.width=W+'px';c.style.height=n+'px';"
           "const g=c.getContext('2d');const d=g.createImageData(1,n);"
           "for(let i=0;i<n;i++){const y=top+i;d.data[4*i]=y&255;d.data[4*i+1]=(y>>8)&255;"
           "d.data[4*i+2]=7+60*(y>>16);d.data[4*i+3]=255;}"
           "g.putImageData(d,0,0);document.body.appendChild(c);}"
           "</script></body></html>";
}

bool BandFrameMatches(const uint8_t* bits, int width, int height, size_t pitch, std::string& where) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = bits + static_cast<size_t>(y) * pitch;
        const uint8_t b = static_cast<uint8_t>(7 + 60 * (y >> 16)), g = static_cast<uint8_t>((y >> 8) & 255),
                      r = static_cast<uint8_t>(y & 255);
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = row + 4 * x;
            if (p[0] != b || p[1] != g || p[2] != r || p[3] != 255) {
                char text[160];
                snprintf(text, sizeof text, "pixel (%d, %d) is B,G,R,A %u,%u,%u,%u, expected %u,%u,%u,255", x, y, p[0],
                         p[1], p[2], p[3], b, g, r);
                where = text;
                return false;
            }
        }
    }
    return true;
}

std::wstring WriteTempFile(const std::wstring& name, const std::string& bytes) {
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    std::wstring path = std::wstring(temp) + name;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return path;
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) return true;
        if (GetTickCount() - start > static_cast<DWORD>(timeoutMs)) return false;
        Sleep(10);
    }
}

}  // namespace wketest
