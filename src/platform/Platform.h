#pragma once

#include <stdexcept>
#include <string>
#include <typeinfo>

// Where the program finds the implementation of each platform interface. main_*.cpp installs the
// operating system's; tests install fakes. Portable code asks for an interface only through here.
namespace platform {

template <class Interface> class Slot {
public:
    static Interface* current;
};
template <class Interface> Interface* Slot<Interface>::current = nullptr;

template <class Interface> Interface& get() {
    if (Slot<Interface>::current == nullptr) {
        throw std::logic_error(std::string("no implementation installed for ") + typeid(Interface).name());
    }
    return *Slot<Interface>::current;
}

// Returns the implementation that was installed before, so that a caller can put it back.
template <class Interface> Interface* install(Interface* implementation) {
    Interface* previous = Slot<Interface>::current;
    Slot<Interface>::current = implementation;
    return previous;
}

// Installs an implementation for the lifetime of a scope (a test) and puts the previous one back.
template <class Interface> class ScopedInstall {
public:
    explicit ScopedInstall(Interface& implementation) : previous_(install(&implementation)) {}
    ~ScopedInstall() { install(previous_); }
    ScopedInstall(const ScopedInstall&) = delete;
    ScopedInstall& operator=(const ScopedInstall&) = delete;

private:
    Interface* previous_;
};

} // namespace platform
