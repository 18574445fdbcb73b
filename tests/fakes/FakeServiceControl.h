#pragma once

#include "platform/ServiceControl.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

// A service control that writes down what it is asked and answers as the test sets it up.
class FakeServiceControl : public ServiceControl {
public:
    std::vector<std::string> calls;
    std::map<std::string, std::string> store; // "section/key" -> value
    ServiceRequests* requests = nullptr;
    bool running = false;
    bool installs = true;
    bool uninstalls = true;
    bool storeWritable = true; // false: saved settings are lost, as in a folder that cannot be written
    // The service as the service manager would register it.
    std::string displayName;
    int32_t startMode = 0;
    int32_t controlsAccepted = 0;
    // What the service manager holds: the service as registered, if it is.
    struct Registration {
        std::string displayName;
        int32_t startMode = 0;
        int32_t controlsAccepted = 0;
        bool operator==(const Registration&) const = default;
    };
    std::optional<Registration> registered;

    void SetInteractive(bool interactive) override {
        calls.push_back(std::string("interactive ") + (interactive ? "true" : "false"));
    }
    void SetDisplayName(const std::string& name) override {
        calls.push_back("display name " + name);
        displayName = name;
    }
    void SetStartMode(int32_t mode) override {
        calls.push_back("start mode " + std::to_string(mode));
        startMode = mode;
    }
    void SetControlsAccepted(int32_t controls) override {
        calls.push_back("controls " + std::to_string(controls));
        controlsAccepted = controls;
    }
    Result Install() override {
        calls.push_back("install");
        if (!installs) {
            return denied();
        }
        registered = Registration{displayName, startMode, controlsAccepted};
        return Result::Done();
    }
    Result Uninstall() override {
        calls.push_back("uninstall");
        if (!uninstalls) {
            return denied();
        }
        registered.reset();
        return Result::Done();
    }
    bool Running() override {
        calls.push_back("running");
        return running;
    }
    void Listen(ServiceRequests& to) override { requests = &to; }
    void StartService() override { calls.push_back("start"); }
    void SaveSetting(const std::string& section, const std::string& key, const std::string& value) override {
        calls.push_back("save " + key + "=" + value);
        if (storeWritable) {
            store[section + "/" + key] = value;
        }
    }
    std::string GetSetting(const std::string& section, const std::string& key, const std::string& fallback) override {
        calls.push_back("get " + key + " " + fallback);
        const auto it = store.find(section + "/" + key);
        return it == store.end() ? fallback : it->second;
    }

private:
    static Result denied() { return Result::Failed("Access is denied.", 5); }
};
