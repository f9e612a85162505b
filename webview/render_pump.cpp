#include "webview/web_view_host.h"

void WebViewHost::RenderLoop() {}
