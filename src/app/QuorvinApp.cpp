#include "app/QuorvinApp.h"

#include <filesystem>
#include <system_error>

#include "common/CommonTool.h"

namespace quorvin {

CQuorvinApp::CQuorvinApp(std::string moduleDir, ConfigFetcher fetcher, WindowRunner runner, MachineIdentity identity)
    : m_moduleDir(std::move(moduleDir)),
      m_fetcher(std::move(fetcher)),
      m_runner(std::move(runner)),
      m_identity(std::move(identity)) {}

bool CQuorvinApp::InitInstance() {
    CCommonTool tool(m_moduleDir);
    const std::string path = m_moduleDir + "/config.json";
    std::error_code ec;
    // A local file always wins: the remote copy only stands in for a missing one.
    if (!std::filesystem::exists(path, ec) && m_fetcher) m_fetcher(path);

    std::optional<StartupValues> values = LoadStartupConfig(m_moduleDir, m_identity, tool.GetGuidText());
    if (!values) return false;
    m_paramMap = std::make_unique<ParamMap>(values->params);
    m_windowShown = true;
    if (m_runner) m_runner(*values);
    return false;
}

int CQuorvinApp::ExitInstance() {
    m_paramMap.reset();
    return 0;
}

}  // namespace quorvin
