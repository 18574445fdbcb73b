// The in-line block on Windows: persistent filters of the Windows Filtering Platform in a sublayer of
// the program's own, replaced in one transaction per change.
#include "platform/PacketFilter.h"
#include "platform/WfpFilterSet.h"

#include <windows.h>

#include <fwpmu.h>

#include <cstdio>
#include <string>

namespace {

using WfpFilterSet::Field;
using WfpFilterSet::Layer;

// The platform's identifiers, as the Windows SDK's fwpmu.h defines them (mingw-w64's copy lacks them).
constexpr GUID LayerAuthConnectV4 = {0xc38d57d1, 0x05a7, 0x4c33, {0x90, 0x4f, 0x7f, 0xbc, 0xee, 0xe6, 0x0e, 0x82}};
constexpr GUID LayerAuthConnectV6 = {0x4a72393b, 0x319f, 0x44bc, {0x84, 0xc3, 0xba, 0x54, 0xdc, 0xb3, 0xb6, 0xb4}};
constexpr GUID LayerAuthRecvAcceptV4 = {0xe1cd9fe7, 0xf4b5, 0x4273, {0x96, 0xc0, 0x59, 0x2e, 0x48, 0x7b, 0x86, 0x50}};
constexpr GUID LayerAuthRecvAcceptV6 = {0xa3b42c97, 0x9f04, 0x4672, {0xb8, 0x7e, 0xce, 0xe9, 0xc4, 0x83, 0x25, 0x7f}};
constexpr GUID ConditionIpProtocol = {0x3971ef2b, 0x623e, 0x4f9a, {0x8c, 0xb1, 0x6e, 0x79, 0xb8, 0x06, 0xb9, 0xa7}};
constexpr GUID ConditionIpLocalPort = {0x0c1ba1af, 0x5765, 0x453f, {0xaf, 0x22, 0xa8, 0xf7, 0x91, 0xac, 0x77, 0x5b}};
constexpr GUID ConditionIpRemotePort = {0xc35a604d, 0xd22b, 0x4e1a, {0x91, 0xb4, 0x68, 0xf6, 0x74, 0xee, 0x67, 0x4b}};
constexpr UINT32 FlagPersistent = 0x1; // FWPM_PROVIDER_FLAG_, FWPM_SUBLAYER_FLAG_, FWPM_FILTER_FLAG_PERSISTENT

// The program's own provider and sublayer. Never change them: a newer version must find and lift what
// an older one left behind.
constexpr GUID Provider = {0x4ac4bea1, 0x85aa, 0x4721, {0xb7, 0xfb, 0x09, 0xad, 0xb1, 0x44, 0xb8, 0x6c}};
constexpr GUID Sublayer = {0xb7c285d6, 0x037e, 0x4e8e, {0xad, 0xa7, 0x60, 0x29, 0x8e, 0x35, 0x81, 0xe0}};

GUID layerKey(Layer layer) {
    switch (layer) {
    case Layer::AuthConnectV4:
        return LayerAuthConnectV4;
    case Layer::AuthConnectV6:
        return LayerAuthConnectV6;
    case Layer::AuthRecvAcceptV4:
        return LayerAuthRecvAcceptV4;
    case Layer::AuthRecvAcceptV6:
        break;
    }
    return LayerAuthRecvAcceptV6;
}

GUID fieldKey(Field field) {
    switch (field) {
    case Field::IpProtocol:
        return ConditionIpProtocol;
    case Field::IpLocalPort:
        return ConditionIpLocalPort;
    case Field::IpRemotePort:
        break;
    }
    return ConditionIpRemotePort;
}

Result failed(const char* what, DWORD status) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
    return Result::Failed(std::string("the Windows Filtering Platform ") + what + " (error " + code + ")",
                          static_cast<int>(status));
}

bool ignorable(DWORD status, HRESULT allowed) {
    return status == ERROR_SUCCESS || status == static_cast<DWORD>(allowed);
}

class Engine {
public:
    Engine() : status_(FwpmEngineOpen0(nullptr, RPC_C_AUTHN_WINNT, nullptr, nullptr, &handle_)) {}
    ~Engine() {
        if (status_ == ERROR_SUCCESS) {
            FwpmEngineClose0(handle_);
        }
    }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    HANDLE get() const { return handle_; }
    DWORD status() const { return status_; }

private:
    HANDLE handle_ = nullptr;
    DWORD status_;
};

// Aborted unless committed, so that a failure half-way leaves the rules as they were.
class Transaction {
public:
    explicit Transaction(HANDLE engine) : engine_(engine), status_(FwpmTransactionBegin0(engine, 0)) {}
    ~Transaction() {
        if (status_ == ERROR_SUCCESS && !committed_) {
            FwpmTransactionAbort0(engine_);
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    DWORD status() const { return status_; }
    DWORD Commit() {
        const DWORD status = FwpmTransactionCommit0(engine_);
        committed_ = status == ERROR_SUCCESS;
        return status;
    }

private:
    HANDLE engine_;
    DWORD status_;
    bool committed_ = false;
};

// The filters in the program's sublayer, as data, with their identifiers.
struct OwnFilters {
    DWORD status = ERROR_SUCCESS;
    std::vector<UINT64> ids;
    std::vector<WfpFilterSet::Filter> filters;
};

OwnFilters ownFilters(HANDLE engine) {
    OwnFilters own;
    HANDLE enumeration = nullptr;
    own.status = FwpmFilterCreateEnumHandle0(engine, nullptr, &enumeration);
    if (own.status != ERROR_SUCCESS) {
        return own;
    }
    constexpr UINT32 Batch = 256;
    for (;;) {
        FWPM_FILTER0** entries = nullptr;
        UINT32 count = 0;
        own.status = FwpmFilterEnum0(engine, enumeration, Batch, &entries, &count);
        if (own.status != ERROR_SUCCESS) {
            break;
        }
        for (UINT32 i = 0; i < count; ++i) {
            const FWPM_FILTER0& entry = *entries[i];
            if (!IsEqualGUID(entry.subLayerKey, Sublayer)) {
                continue;
            }
            own.ids.push_back(entry.filterId);
            WfpFilterSet::Filter filter{.name = {}, .layer = Layer::AuthConnectV4, .conditions = {}};
            for (UINT32 c = 0; c < entry.numFilterConditions; ++c) {
                const FWPM_FILTER_CONDITION0& condition = entry.filterCondition[c];
                for (const Field field : {Field::IpProtocol, Field::IpLocalPort, Field::IpRemotePort}) {
                    if (IsEqualGUID(condition.fieldKey, fieldKey(field))) {
                        const uint16_t value = condition.conditionValue.type == FWP_UINT8
                                                   ? condition.conditionValue.uint8
                                                   : condition.conditionValue.uint16;
                        filter.conditions.push_back({field, value});
                    }
                }
            }
            own.filters.push_back(std::move(filter));
        }
        FwpmFreeMemory0(reinterpret_cast<void**>(&entries));
        if (count < Batch) {
            break;
        }
    }
    FwpmFilterDestroyEnumHandle0(engine, enumeration);
    return own;
}

Result addProviderAndSublayer(HANDLE engine) {
    std::wstring providerName = L"Quietwire";
    FWPM_PROVIDER0 provider{};
    provider.providerKey = Provider;
    provider.displayData.name = providerName.data();
    provider.flags = FlagPersistent;
    DWORD status = FwpmProviderAdd0(engine, &provider, nullptr);
    if (!ignorable(status, FWP_E_ALREADY_EXISTS)) {
        return failed("refused the program's provider", status);
    }
    std::wstring sublayerName = L"Quietwire closed ports";
    GUID providerKey = Provider;
    FWPM_SUBLAYER0 sublayer{};
    sublayer.subLayerKey = Sublayer;
    sublayer.displayData.name = sublayerName.data();
    sublayer.flags = FlagPersistent;
    sublayer.providerKey = &providerKey;
    sublayer.weight = WfpFilterSet::SublayerWeight;
    status = FwpmSubLayerAdd0(engine, &sublayer, nullptr);
    if (!ignorable(status, FWP_E_ALREADY_EXISTS)) {
        return failed("refused the program's sublayer", status);
    }
    return Result::Done();
}

Result addFilter(HANDLE engine, const WfpFilterSet::Filter& data) {
    std::wstring name(data.name.begin(), data.name.end());
    std::vector<FWPM_FILTER_CONDITION0> conditions(data.conditions.size());
    for (size_t i = 0; i < conditions.size(); ++i) {
        conditions[i].fieldKey = fieldKey(data.conditions[i].field);
        conditions[i].matchType = FWP_MATCH_EQUAL;
        if (data.conditions[i].field == Field::IpProtocol) {
            conditions[i].conditionValue.type = FWP_UINT8;
            conditions[i].conditionValue.uint8 = static_cast<UINT8>(data.conditions[i].value);
        } else {
            conditions[i].conditionValue.type = FWP_UINT16;
            conditions[i].conditionValue.uint16 = data.conditions[i].value;
        }
    }
    GUID providerKey = Provider;
    FWPM_FILTER0 filter{};
    filter.displayData.name = name.data();
    filter.flags = data.persistent ? FlagPersistent : 0;
    filter.providerKey = &providerKey;
    filter.layerKey = layerKey(data.layer);
    filter.subLayerKey = Sublayer;
    filter.weight.type = FWP_UINT8;
    filter.weight.uint8 = data.weight;
    filter.numFilterConditions = static_cast<UINT32>(conditions.size());
    filter.filterCondition = conditions.data();
    filter.action.type = data.block ? FWP_ACTION_BLOCK : FWP_ACTION_PERMIT;
    const DWORD status = FwpmFilterAdd0(engine, &filter, nullptr, nullptr);
    return status == ERROR_SUCCESS ? Result::Done() : failed("refused a filter", status);
}

class Win32PacketFilter final : public PacketFilter {
public:
    Result Refuse(const std::vector<uint16_t>& ports) override {
        const Engine engine;
        if (engine.status() != ERROR_SUCCESS) {
            return failed("could not be opened", engine.status());
        }
        Transaction transaction(engine.get());
        if (transaction.status() != ERROR_SUCCESS) {
            return failed("could not begin a transaction", transaction.status());
        }
        const OwnFilters own = ownFilters(engine.get());
        if (own.status != ERROR_SUCCESS) {
            return failed("could not list the program's filters", own.status);
        }
        for (const UINT64 id : own.ids) {
            if (const DWORD status = FwpmFilterDeleteById0(engine.get(), id); status != ERROR_SUCCESS) {
                return failed("could not delete a filter", status);
            }
        }
        if (ports.empty()) {
            // Lifted without a trace: nothing of the program's stays in the platform.
            DWORD status = FwpmSubLayerDeleteByKey0(engine.get(), &Sublayer);
            if (!ignorable(status, FWP_E_SUBLAYER_NOT_FOUND)) {
                return failed("could not delete the program's sublayer", status);
            }
            status = FwpmProviderDeleteByKey0(engine.get(), &Provider);
            if (!ignorable(status, FWP_E_PROVIDER_NOT_FOUND)) {
                return failed("could not delete the program's provider", status);
            }
        } else {
            if (Result added = addProviderAndSublayer(engine.get()); !added) {
                return added;
            }
            for (const WfpFilterSet::Filter& filter : WfpFilterSet::Filters(ports)) {
                if (Result added = addFilter(engine.get(), filter); !added) {
                    return added;
                }
            }
        }
        if (const DWORD status = transaction.Commit(); status != ERROR_SUCCESS) {
            return failed("could not commit the transaction", status);
        }
        return Result::Done();
    }

    std::optional<std::vector<uint16_t>> InForce() override {
        const Engine engine;
        if (engine.status() != ERROR_SUCCESS) {
            return std::nullopt;
        }
        const OwnFilters own = ownFilters(engine.get());
        if (own.status != ERROR_SUCCESS) {
            return std::nullopt;
        }
        return WfpFilterSet::PortsOf(own.filters);
    }
};

} // namespace

PacketFilter& systemPacketFilter() {
    static Win32PacketFilter instance;
    return instance;
}
