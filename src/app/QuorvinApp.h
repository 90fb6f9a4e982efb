// CQuorvinApp: the whole run of the agent, from reading its configuration
// to the main window closing.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/StartupConfig.h"
#include "common/ParamMap.h"

namespace quorvin {

class CQuorvinApp {
public:
    // Fetches a first copy of config.json into path when there is none.
    using ConfigFetcher = std::function<void(const std::string& path)>;
    // Shows the main window with the start-up values; returns when it closes.
    using WindowRunner = std::function<void(const StartupValues& values)>;

    CQuorvinApp(std::string moduleDir, ConfigFetcher fetcher, WindowRunner runner,
                MachineIdentity identity = SystemIdentity());

    // The start-up sequence; always false (the agent ends when it returns).
    bool InitInstance();
    int ExitInstance();

    // The parameter map; null before InitInstance made it and after ExitInstance.
    const ParamMap* m_pParamMap() const { return m_paramMap.get(); }

    // True when InitInstance got as far as showing the window.
    bool WindowShown() const { return m_windowShown; }

private:
    std::string m_moduleDir;
    ConfigFetcher m_fetcher;
    WindowRunner m_runner;
    MachineIdentity m_identity;
    std::unique_ptr<ParamMap> m_paramMap;
    bool m_windowShown = false;
};

}  // namespace quorvin
