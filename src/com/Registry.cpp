#include "com/Registry.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace zul::com {

Object::~Object() = default;

namespace {

std::string key(const std::string& progId)
{
    std::string k = progId;
    std::transform(k.begin(), k.end(), k.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return k;
}

struct Table {
    std::mutex mutex;
    std::map<std::string, std::pair<std::string, Factory>> classes;
};

Table& table()
{
    static Table t;
    return t;
}

} // namespace

void registerClass(const std::string& progId, Factory factory)
{
    auto& t = table();
    std::lock_guard lock(t.mutex);
    t.classes[key(progId)] = {progId, std::move(factory)};
}

void unregisterClass(const std::string& progId)
{
    auto& t = table();
    std::lock_guard lock(t.mutex);
    t.classes.erase(key(progId));
}

void clearRegistry()
{
    auto& t = table();
    std::lock_guard lock(t.mutex);
    t.classes.clear();
}

bool isRegistered(const std::string& progId)
{
    auto& t = table();
    std::lock_guard lock(t.mutex);
    return t.classes.count(key(progId)) != 0;
}

ObjectPtr CreateObject(const std::string& progId)
{
    Factory factory;
    {
        auto& t = table();
        std::lock_guard lock(t.mutex);
        const auto it = t.classes.find(key(progId));
        if (it == t.classes.end())
            return nullptr;
        factory = it->second.second;
    }
    // The factory runs outside the lock: it may create further components.
    try {
        return factory ? factory() : nullptr;
    } catch (...) {
        return nullptr;
    }
}

} // namespace zul::com
