#pragma once

#include "platform/Platform.h"
#include "platform/Record.h"
#include "settings/Journal.h"

#include <string>
#include <vector>

class FakeRecord : public Record {
public:
    std::vector<RecordEntry> entries;
    void Write(const RecordEntry& entry) override { entries.push_back(entry); }

    std::vector<RecordEntry> of(RecordKind kind) const {
        std::vector<RecordEntry> found;
        for (const RecordEntry& entry : entries) {
            if (entry.kind == kind) {
                found.push_back(entry);
            }
        }
        return found;
    }
    static std::string field(const RecordEntry& entry, const std::string& name) {
        for (const auto& [key, value] : entry.fields) {
            if (key == name) {
                return value;
            }
        }
        return {};
    }
};

// The record of an enforcing copy, kept in memory for as long as it lives: what the settings are when it
// starts is what later changes are told against.
class RecordKept : public FakeRecord {
public:
    RecordKept() {
        Journal::Enable(true);
        Journal::SettingsKnown();
    }
    ~RecordKept() override { Journal::Enable(false); }
    RecordKept(const RecordKept&) = delete;
    RecordKept& operator=(const RecordKept&) = delete;

private:
    platform::ScopedInstall<Record> installed_{*this};
};
