#pragma once

#include <string>
#include <utility>
#include <vector>

// What the enforcing copy did, kept in the system's own log for an administrator to look up later: one
// entry per event, of a fixed kind that a query can select.
enum class RecordKind {
    Started,
    Ended,
    ConnectionsClosed,
    BlockInForce,
    BlockLifted,
    AlarmRaised,
    AlarmCleared,
    SettingChanged,
    WrongPassword,
    StepFailing,
    StepRecovered,
};

struct RecordEntry {
    RecordKind kind;
    std::string message;                                     // one line, for a reader
    std::vector<std::pair<std::string, std::string>> fields; // for a query: names in capitals, "QW_..."
    bool warning = false;                                    // a fault or a refusal, not a plain event
};

class Record {
public:
    virtual ~Record() = default;
    // Where the system keeps no log, or refuses the entry, nothing is written: the program runs on.
    virtual void Write(const RecordEntry& entry) = 0;
};

Record& systemRecord();

// The fixed identifier of each kind (128 bits, as 32 hex digits): journalctl MESSAGE_ID=... finds every
// entry of that kind. On Windows the event id is the kind's position plus one.
inline const char* RecordKindId(RecordKind kind) {
    switch (kind) {
    case RecordKind::Started:
        return "b709eeac37d548bda2230920a3163d42";
    case RecordKind::Ended:
        return "adeeb618e7404a5292bc4ab9a19a026e";
    case RecordKind::ConnectionsClosed:
        return "fb2cc5c3f5384af4b92b1aadfff57402";
    case RecordKind::BlockInForce:
        return "eaab7346dd29458cac4b07f42faf337e";
    case RecordKind::BlockLifted:
        return "53bad796e28e493094f62d33d31dc96d";
    case RecordKind::AlarmRaised:
        return "2964b822a513494389ce3246acbaf432";
    case RecordKind::AlarmCleared:
        return "4120a5382dd64582ae22eb07a96d7f24";
    case RecordKind::SettingChanged:
        return "56a14f62118e4a56a1571275539bebbd";
    case RecordKind::WrongPassword:
        return "e0b0b5c6aad54e93ad655c92d0c4035a";
    case RecordKind::StepFailing:
        return "52c1be1e870c43c697a5ed786430e245";
    case RecordKind::StepRecovered:
        return "f04507f8accd4c1ba1cec327ecf26d91";
    }
    return "";
}
