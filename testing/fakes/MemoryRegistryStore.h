#pragma once

#include "platform/RegistryStore.h"

#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace oru::test {

/// The per-user store in memory, with switches for the failures of a real one
/// and a log of what reached the store ("Software\oruDriver\Flags = 0",
/// "Software\oruDriver\Edit1_Text = \"12\""). Names match exactly.
class MemoryRegistryStore final : public RegistryStore {
public:
    std::map<std::string, std::map<std::string, StoredValue>> keys;

    bool unreadable = false;     // keyState reports Unreadable
    bool failCreate = false;     // createKey fails
    bool failSet = false;        // setValue fails
    bool failUpdate = false;     // endUpdate(true) fails
    std::set<std::string> brokenValues;  // queryValue of these names throws

    std::vector<std::string> stored;      // writes that reached the store, in order
    std::vector<std::string> created;     // keys created
    std::vector<std::string> unusable;    // "key\name: found"
    int queries = 0;
    int updates = 0;  // ended updates

    void put(const std::string& key, const std::string& name, StoredValue value) { keys[key][name] = std::move(value); }
    const StoredValue* find(const std::string& key, const std::string& name) const
    {
        const auto k = keys.find(key);
        if (k == keys.end()) return nullptr;
        const auto v = k->second.find(name);
        return v == k->second.end() ? nullptr : &v->second;
    }

    KeyState keyState(const std::string& keyPath) override
    {
        if (unreadable) return KeyState::Unreadable;
        if (keyPath.empty()) return KeyState::Present;
        for (const auto& [key, values] : keys) {
            if (key == keyPath || key.rfind(keyPath + "\\", 0) == 0) return KeyState::Present;
        }
        return KeyState::Missing;
    }

    std::optional<StoredValue> queryValue(const std::string& keyPath, const std::string& name) override
    {
        ++queries;
        if (brokenValues.count(name)) throw std::runtime_error("broken value " + name);
        const StoredValue* value = find(keyPath, name);
        if (!value) return std::nullopt;
        return *value;
    }

    bool createKey(const std::string& keyPath) override
    {
        if (failCreate) return false;
        keys[keyPath];
        created.push_back(keyPath);
        return true;
    }

    bool setValue(const std::string& keyPath, const std::string& name, const StoredValue& value) override
    {
        if (failSet) return false;
        keys[keyPath][name] = value;
        const std::string line = keyPath + "\\" + name + " = " +
                                 (value.kind == StoredKind::Number ? std::to_string(value.number) : "\"" + value.text + "\"");
        if (held_) {
            heldLines_.push_back(line);
        } else {
            stored.push_back(line);
        }
        return true;
    }

    void beginUpdate() override
    {
        held_ = keys;
        heldLines_.clear();
    }

    bool endUpdate(bool keep) override
    {
        const bool ok = !keep || !failUpdate || heldLines_.empty();
        if (!keep || !ok) {
            keys = *held_;
        } else {
            stored.insert(stored.end(), heldLines_.begin(), heldLines_.end());
        }
        held_.reset();
        heldLines_.clear();
        ++updates;
        return ok;
    }

    void reportUnusableValue(const std::string& keyPath, const std::string& name, const std::string& found) override
    {
        unusable.push_back(keyPath + "\\" + name + ": " + found);
    }

private:
    std::optional<std::map<std::string, std::map<std::string, StoredValue>>> held_;
    std::vector<std::string> heldLines_;
};

} // namespace oru::test
