#pragma once

#include "platform/TcpTable.h"
#include "platform/linux/SockDiag.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

// The sockets of the last dump by the addresses and ports of their rows, so that a row sent for
// deletion names exactly the socket (cookie included) that the table showed.
//
// A row sent for deletion carries state 12 instead of the state it was shown with, and more than one
// socket can show the same addresses and ports (a connection beside a TIME_WAIT socket left by an
// earlier one, connections bound to different devices). A deletion goes to a socket the scan deletes,
// never to a TIME_WAIT or listening one while there is such a socket; repeated deletions of one row go
// to each of its sockets in turn, so every row of the table gets its own.
template <class Row> class ShownSockets {
public:
    void clear() {
        shown_.clear();
        index_.clear();
    }
    void add(const Row& row, const SockDiag::Socket& socket) { shown_.push_back({keyOf(row), stateOf(row), socket}); }
    const SockDiag::Socket* find(const Row& row) { return lookUp(row, true); }
    // The socket the next find of the row gives, without moving on to the next.
    const SockDiag::Socket* peek(const Row& row) { return lookUp(row, false); }

private:
    static_assert(offsetof(TcpRow, dwState) == 0 && offsetof(Tcp6Row, State) == 0);
    using Key = std::array<uint8_t, sizeof(Row) - sizeof(uint32_t)>; // the row without its state
    struct Hash {
        size_t operator()(const Key& k) const {
            return std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char*>(k.data()), k.size()));
        }
    };
    struct Shown {
        Key key;
        uint32_t state;
        SockDiag::Socket socket;
    };
    // The sockets of one key, the deletable ones first.
    struct Candidates {
        std::vector<size_t> sockets;
        size_t deletable = 0;
        size_t next = 0;
    };

    static Key keyOf(const Row& row) {
        Key key;
        std::memcpy(key.data(), reinterpret_cast<const uint8_t*>(&row) + sizeof(uint32_t), key.size());
        return key;
    }
    static uint32_t stateOf(const Row& row) {
        uint32_t state;
        std::memcpy(&state, &row, sizeof state);
        return state;
    }

    const SockDiag::Socket* lookUp(const Row& row, bool moveOn) {
        if (index_.empty() && !shown_.empty()) {
            buildIndex();
        }
        const auto it = index_.find(keyOf(row));
        if (it == index_.end()) {
            return nullptr;
        }
        Candidates& c = it->second;
        const size_t turn = (moveOn ? c.next++ : c.next) % (c.deletable > 0 ? c.deletable : c.sockets.size());
        return &shown_[c.sockets[turn]].socket;
    }

    void buildIndex() {
        index_.reserve(shown_.size());
        for (size_t i = 0; i < shown_.size(); ++i) {
            Candidates& c = index_[shown_[i].key];
            if (shown_[i].state == TcpState::TimeWait || shown_[i].state == TcpState::Listen) {
                c.sockets.push_back(i);
            } else {
                c.sockets.insert(c.sockets.begin() + static_cast<std::ptrdiff_t>(c.deletable++), i);
            }
        }
    }

    std::vector<Shown> shown_;
    std::unordered_map<Key, Candidates, Hash> index_; // built at the first deletion after a dump
};
