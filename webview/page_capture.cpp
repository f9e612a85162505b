#include "webview/web_view_host.h"

ByteBuffer WebViewHost::CapturePage() { return ByteBuffer(); }
