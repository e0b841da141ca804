#pragma once
#include <QString>
#include <algorithm>
#include <list>
#include <optional>
#include <utility>

// A few values by statement text, the most recently used first.
template <class Value, size_t Capacity = 8> class RecentlyUsed {
public:
    // The value of that text, made the most recent; null when absent.
    Value* find(const QString& text) {
        const auto it = std::find_if(entries_.begin(), entries_.end(),
                                     [&](const auto& entry) { return entry.first == text; });
        if (it == entries_.end())
            return nullptr;
        entries_.splice(entries_.begin(), entries_, it);
        return &entries_.front().second;
    }
    // Keeps a value as the most recent; returns the oldest when it had to go.
    std::optional<Value> keep(const QString& text, Value value) {
        entries_.emplace_front(text, std::move(value));
        if (entries_.size() <= Capacity)
            return std::nullopt;
        std::optional<Value> out(std::move(entries_.back().second));
        entries_.pop_back();
        return out;
    }
    Value& front() { return entries_.front().second; }
    void clear() { entries_.clear(); }

private:
    std::list<std::pair<QString, Value>> entries_;
};
