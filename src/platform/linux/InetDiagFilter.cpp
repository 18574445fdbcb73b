#include "platform/linux/InetDiagFilter.h"

#include <algorithm>
#include <cstddef>
#include <linux/inet_diag.h>

namespace InetDiagFilter {
namespace {

// A program under construction: conditions, jumps and the labels they go to, laid out as bytes at the
// end. The kernel checks that following every op's `yes` offset walks the whole program and that
// every `no` offset lands on an op of that walk (or just past the end: accept, or 4 bytes further:
// reject). So every op's `yes` is its own size (a condition that holds falls through) and all
// branching goes forward through `no`: a condition that fails, or an unconditional jump.
class Program {
public:
    static constexpr int Accept = -1;
    static constexpr int Reject = -2;

    int newLabel() { return labels_++; }
    void place(int label) { items_.push_back({Kind::Label, 0, 0, label}); }

    // Accepts when the field is one of the sorted ports; goes to `fail` otherwise. Most ports of a
    // machine's connections (ephemeral ones above all) lie outside the closed ports' range, and two
    // comparisons send those on without searching.
    void field(uint8_t lessOrEqual, uint8_t greaterOrEqual, uint8_t equal, const std::vector<uint16_t>& ports,
               int fail) {
        items_.push_back({Kind::Condition, lessOrEqual, ports.back(), fail});
        items_.push_back({Kind::Condition, greaterOrEqual, ports.front(), fail});
        tree(lessOrEqual, equal, ports, 0, ports.size(), fail);
    }

    // The program's bytes; empty when it would not fit the ops' 16-bit offsets.
    std::vector<uint8_t> assemble() const {
        std::vector<size_t> at(static_cast<size_t>(labels_));
        size_t length = 0;
        for (const Item& item : items_) {
            if (item.kind == Kind::Label) {
                at[static_cast<size_t>(item.target)] = length;
            } else {
                length += item.kind == Kind::Condition ? 8 : 4;
            }
        }
        if (length + 4 > 0xffff) {
            return {};
        }
        const auto where = [&](int target) {
            return target == Accept ? length : target == Reject ? length + 4 : at[static_cast<size_t>(target)];
        };
        std::vector<inet_diag_bc_op> ops;
        size_t position = 0;
        for (const Item& item : items_) {
            if (item.kind == Kind::Condition) {
                ops.push_back({item.code, 8, static_cast<uint16_t>(where(item.target) - position)});
                ops.push_back({INET_DIAG_BC_NOP, 0, item.port}); // the condition's operand
                position += 8;
            } else if (item.kind == Kind::Jump) {
                ops.push_back({INET_DIAG_BC_JMP, 4, static_cast<uint16_t>(where(item.target) - position)});
                position += 4;
            }
        }
        const auto* p = reinterpret_cast<const uint8_t*>(ops.data());
        return std::vector<uint8_t>(p, p + ops.size() * sizeof(inet_diag_bc_op));
    }

private:
    // Accepts when the field is one of ports[from, to); goes to `fail` otherwise.
    void tree(uint8_t lessOrEqual, uint8_t equal, const std::vector<uint16_t>& ports, size_t from, size_t to,
              int fail) {
        if (to - from <= 3) {
            for (size_t i = from; i < to; ++i) {
                const int next = i + 1 < to ? newLabel() : fail;
                items_.push_back({Kind::Condition, equal, ports[i], next});
                items_.push_back({Kind::Jump, 0, 0, Accept});
                if (i + 1 < to) {
                    place(next);
                }
            }
            return;
        }
        const size_t middle = from + (to - from) / 2;
        const int upper = newLabel();
        items_.push_back({Kind::Condition, lessOrEqual, ports[middle - 1], upper});
        tree(lessOrEqual, equal, ports, from, middle, fail);
        place(upper);
        tree(lessOrEqual, equal, ports, middle, to, fail);
    }

    enum class Kind { Condition, Jump, Label };
    struct Item {
        Kind kind;
        uint8_t code;
        uint16_t port;
        int target;
    };
    std::vector<Item> items_;
    int labels_ = 0;
};

} // namespace

std::vector<uint8_t> anyPortOf(std::vector<uint16_t> ports) {
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    if (ports.empty()) {
        return {};
    }
    Program program;
    const int destination = program.newLabel();
    program.field(INET_DIAG_BC_S_LE, INET_DIAG_BC_S_GE, INET_DIAG_BC_S_EQ, ports, destination);
    program.place(destination);
    program.field(INET_DIAG_BC_D_LE, INET_DIAG_BC_D_GE, INET_DIAG_BC_D_EQ, ports, Program::Reject);
    return program.assemble();
}

} // namespace InetDiagFilter
