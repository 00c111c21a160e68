#pragma once
#include <functional>
#include <utility>
#include <vector>

// A report of the poll cycle with several listeners: the function its owner sets (assigning
// replaces it, as with a plain std::function) and listeners added beside it, called after
// it in the order added. The trend recorder, the live chart and the history each hear the
// same report without knowing of one another.
template <typename... Args> class CycleHook {
public:
    using Function = std::function<void(Args...)>;

    CycleHook &operator=(Function f) {
        m_owner = std::move(f);
        return *this;
    }
    explicit operator bool() const { return m_owner || !m_listeners.empty(); }
    void operator()(Args... args) const {
        if (m_owner)
            m_owner(args...);
        for (const auto &l : m_listeners)
            l.second(args...);
    }
    // Returns the id that removes it again.
    int Listen(Function f) {
        m_listeners.emplace_back(++m_lastId, std::move(f));
        return m_lastId;
    }
    void Unlisten(int id) {
        std::erase_if(m_listeners, [id](const auto &l) { return l.first == id; });
    }

private:
    Function m_owner;
    std::vector<std::pair<int, Function>> m_listeners;
    int m_lastId = 0;
};

// A question the cycle asks its listeners: true when any of them says so. Every one is
// asked (an answer may have effects of its own, e.g. the recorder resuming).
class CycleWant {
public:
    using Function = std::function<bool()>;

    CycleWant &operator=(Function f) {
        m_owner = std::move(f);
        return *this;
    }
    explicit operator bool() const { return m_owner || !m_listeners.empty(); }
    bool operator()() const {
        bool any = m_owner && m_owner();
        for (const auto &l : m_listeners)
            any = l.second() || any;
        return any;
    }
    int Listen(Function f) {
        m_listeners.emplace_back(++m_lastId, std::move(f));
        return m_lastId;
    }
    void Unlisten(int id) {
        std::erase_if(m_listeners, [id](const auto &l) { return l.first == id; });
    }

private:
    Function m_owner;
    std::vector<std::pair<int, Function>> m_listeners;
    int m_lastId = 0;
};
