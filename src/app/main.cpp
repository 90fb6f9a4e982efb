// The agent's entry point.
#include <clocale>
#include <cstdio>

#include "app/QuorvinApp.h"
#include "common/CommonTool.h"
#include "http/ConfigDownload.h"

int main() {
    std::setlocale(LC_ALL, "");
    quorvin::CCommonTool tool;
    quorvin::CQuorvinApp app(
        tool.GetModuleDir(), quorvin::MakeConfigFetcher(quorvin::ConfigServerOrigin()), [](const quorvin::StartupValues& values) {
            const quorvin::WindowSettings& w = values.window;
            std::printf("quorvin: the page window is not built yet.\n"
                        "  page:  %s\n  title: %s\n  size:  %dx%d align=%s status=%s\n"
                        "  param: %s\n",
                        w.url.c_str(), w.title.c_str(), w.width, w.height, w.align.c_str(), w.status.c_str(),
                        w.pageParam.c_str());
        });
    app.InitInstance();
    if (!app.WindowShown()) {
        std::fprintf(stderr, "quorvin: no usable config.json beside %s\n", tool.GetModuleDir().c_str());
    }
    return app.ExitInstance();
}
