// The in-line block on Linux: nftables through its library, one batch per change.
#include "platform/PacketFilter.h"
#include "platform/linux/Capabilities.h"
#include "platform/linux/NftRules.h"

#include <nftables/libnftables.h>

#include <memory>
#include <string>

namespace {

struct NftContextFree {
    void operator()(nft_ctx* context) const { nft_ctx_free(context); }
};
using NftContext = std::unique_ptr<nft_ctx, NftContextFree>;

struct Answer {
    bool done = false;
    std::string output;
    std::string error;
};

std::string firstLine(std::string text) {
    const size_t end = text.find('\n');
    return end == std::string::npos ? text : text.substr(0, end);
}

// A fresh context each time: it holds nothing worth keeping between ticks, and a context never
// carries one command's cache into the next.
Answer run(const std::string& commands) {
    const NftContext context(nft_ctx_new(NFT_CTX_DEFAULT));
    if (!context) {
        return {false, {}, "nftables could not be started"};
    }
    nft_ctx_buffer_output(context.get());
    nft_ctx_buffer_error(context.get());
    const bool done = nft_run_cmd_from_buffer(context.get(), commands.c_str()) == 0;
    return {done, nft_ctx_get_output_buffer(context.get()), nft_ctx_get_error_buffer(context.get())};
}

class NftPacketFilter final : public PacketFilter {
public:
    // Without the right nftables is not asked at all: it would answer on standard error too.
    Result Refuse(const std::vector<uint16_t>& ports) override {
        if (!mayAdministerNetwork()) {
            return Result::Failed("the program lacks the CAP_NET_ADMIN capability");
        }
        const Answer answer = run(NftRules::ReplaceScript(ports));
        if (answer.done) {
            return Result::Done();
        }
        return Result::Failed("nftables refused the rules (" + firstLine(answer.error) + ")");
    }

    std::optional<std::vector<uint16_t>> InForce() override {
        if (!mayAdministerNetwork()) {
            return std::nullopt;
        }
        const Answer answer = run(NftRules::ListCommand());
        if (answer.done) {
            return NftRules::ListedPorts(answer.output);
        }
        if (answer.error.find("No such file or directory") != std::string::npos) {
            return std::vector<uint16_t>{}; // no table of the program's own
        }
        return std::nullopt;
    }
};

} // namespace

PacketFilter& systemPacketFilter() {
    static NftPacketFilter instance;
    return instance;
}
