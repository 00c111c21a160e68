#pragma once
#include <functional>
#include <utility>
#include <vector>

// A report of the poll cycle with several listeners: the function its owner sets (assigning
// replaces it, as with a plain std::function) and listeners added beside it, called after
// it in the order added. The trend recorder, the live chart and the history each hear the
// same report without knowing of one another.
// The owner's function and the listeners beside it; Listen returns the id that removes
// the listener again.
template <typename Function> class CycleListeners {
public:
    explicit operator bool() const { return m_owner || !m_listeners.empty(); }
    int Listen(Function f) {
        m_listeners.emplace_back(++m_lastId, std::move(f));
        return m_lastId;
    }
    void Unlisten(int id) {
        std::erase_if(m_listeners, [id](const auto &l) { return l.first == id; });
    }

protected:
    Function m_owner;
    std::vector<std::pair<int, Function>> m_listeners;

private:
    int m_lastId = 0;
};

template <typename... Args>
class CycleHook : public CycleListeners<std::function<void(Args...)>> {
public:
    using Function = std::function<void(Args...)>;

    CycleHook &operator=(Function f) {
        this->m_owner = std::move(f);
        return *this;
    }
    void operator()(Args... args) const {
        if (this->m_owner)
            this->m_owner(args...);
        for (const auto &l : this->m_listeners)
            l.second(args...);
    }
};

// A question the cycle asks its listeners: true when any of them says so. Every one is
// asked (an answer may have effects of its own, e.g. the recorder resuming).
class CycleWant : public CycleListeners<std::function<bool()>> {
public:
    using Function = std::function<bool()>;

    CycleWant &operator=(Function f) {
        m_owner = std::move(f);
        return *this;
    }
    bool operator()() const {
        bool any = m_owner && m_owner();
        for (const auto &l : m_listeners)
            any = l.second() || any;
        return any;
    }
};
