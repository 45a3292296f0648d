// The registry of classes with a log level of their own.
#include <algorithm>

#include "logging/LgLog.h"

namespace {

struct RegisteredClass {
    std::type_index type;
    std::string name;
    std::int32_t level;
};

struct ClassRegistry {
    std::mutex mutex;
    std::vector<RegisteredClass> classes;
};

ClassRegistry& classRegistry() {
    static auto* const shared = new ClassRegistry;
    return *shared;
}

// Under the registry's lock: the entry that `matches`, or null.
template <typename Match>
RegisteredClass* findClass(ClassRegistry& registry, Match matches) {
    auto it = std::find_if(registry.classes.begin(), registry.classes.end(), matches);
    return it == registry.classes.end() ? nullptr : &*it;
}

auto byType(std::type_index type) {
    return [type](const RegisteredClass& entry) { return entry.type == type; };
}

auto byName(std::string_view name) {
    return [name](const RegisteredClass& entry) { return entry.name == name; };
}

// What `take` gives of each class, in registration order.
template <typename Take>
auto eachClass(Take take) {
    auto& registry = classRegistry();
    std::lock_guard lock(registry.mutex);
    std::vector<decltype(take(registry.classes.front()))> result;
    for (const auto& entry : registry.classes) result.push_back(take(entry));
    return result;
}

// The level of the class that `matches`; -1 when none is registered.
template <typename Match>
std::int32_t levelOf(Match matches) {
    auto& registry = classRegistry();
    std::lock_guard lock(registry.mutex);
    const auto* entry = findClass(registry, matches);
    return entry ? entry->level : -1;
}

template <typename Match>
void setLevelOf(Match matches, std::int32_t level) {
    auto& registry = classRegistry();
    std::lock_guard lock(registry.mutex);
    if (auto* entry = findClass(registry, matches)) entry->level = level;
}

}  // namespace

void LgLog::registerClass(std::type_index type, std::string name, std::int32_t level) {
    auto& registry = classRegistry();
    std::lock_guard lock(registry.mutex);
    if (findClass(registry, byType(type))) return;
    registry.classes.push_back({type, std::move(name), level});
}

bool LgLog::isRegisteredClass(std::type_index type) {
    auto& registry = classRegistry();
    std::lock_guard lock(registry.mutex);
    return findClass(registry, byType(type)) != nullptr;
}

std::vector<std::type_index> LgLog::registeredClasses() {
    return eachClass([](const RegisteredClass& entry) { return entry.type; });
}

std::vector<std::string> LgLog::registeredClassNames() {
    return eachClass([](const RegisteredClass& entry) { return entry.name; });
}

std::int32_t LgLog::levelForClass(std::type_index type) {
    return levelOf(byType(type));
}

std::int32_t LgLog::levelForClassWithName(std::string_view name) {
    return levelOf(byName(name));
}

void LgLog::setLevelForClass(std::int32_t level, std::type_index type) {
    setLevelOf(byType(type), level);
}

void LgLog::setLevelForClassWithName(std::int32_t level, std::string_view name) {
    setLevelOf(byName(name), level);
}
