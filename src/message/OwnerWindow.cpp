#include "message/OwnerWindow.h"

#include <mutex>

#include "message/PageWindow.h"

namespace quorvin {

void OwnerWindow::SetIfNone(PageWindow* window) {
    // Only a link without an owner waits for the lock: with one, a thread
    // may hold it while its notification waits for this very window thread.
    if (window == nullptr || m_window.load() != nullptr) return;
    std::unique_lock<std::shared_mutex> lock(m_mutex);
    PageWindow* none = nullptr;
    if (!m_released) m_window.compare_exchange_strong(none, window);
}

void OwnerWindow::Notify(const std::string& text) {
    std::shared_lock<std::shared_mutex> lock(m_mutex);
    if (PageWindow* window = m_window.load()) window->NotifyPage(text);
}

void OwnerWindow::PostClose() {
    std::shared_lock<std::shared_mutex> lock(m_mutex);
    if (PageWindow* window = m_window.load()) window->PostClose();
}

void OwnerWindow::Release() {
    std::unique_lock<std::shared_mutex> lock(m_mutex);
    m_released = true;
    m_window.store(nullptr);
}

}  // namespace quorvin
