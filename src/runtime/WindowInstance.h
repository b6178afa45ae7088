#pragma once

#include <QPointer>
#include <functional>

namespace tesselby {

// The one instance of a window kind: created on first reference, kept while hidden, and created anew
// in its design state after it has been unloaded.
template <typename Window> class WindowInstance {
public:
    // onCreate runs once for every new instance, before it is first used.
    explicit WindowInstance(std::function<void(Window*)> onCreate = {}) : m_onCreate(std::move(onCreate)) {}
    WindowInstance(const WindowInstance&) = delete;
    WindowInstance& operator=(const WindowInstance&) = delete;
    ~WindowInstance() { unload(); }

    Window* get()
    {
        if (m_window.isNull()) {
            m_window = new Window();
            if (m_onCreate)
                m_onCreate(m_window.data());
        }
        return m_window.data();
    }

    bool isLoaded() const { return !m_window.isNull(); }
    Window* ifLoaded() const { return m_window.data(); }

    // Discards the window and all its state. Must not be called from the window's own handlers.
    void unload() { delete m_window.data(); }

private:
    QPointer<Window> m_window;
    std::function<void(Window*)> m_onCreate;
};

} // namespace tesselby
