#pragma once

#include <optional>
#include <string>

// How the host loads the plug-in: a plain shared library, found by path and
// opened with dlopen, whose one entry point the host looks up by name. Both
// sides are built together and share libzul_com.so, so the entry speaks C++.
namespace zul::com {

inline constexpr const char* kPluginEntrySymbol = "zul_plugin_entry";
// Changes whenever PluginEntry or HostHooks change, so that a plug-in built
// for another host is refused rather than called.
inline constexpr int kPluginInterfaceVersion = 1;

// What a host with an event loop lends the plug-in; either may be null.
struct HostHooks {
    // Lets the host's event loop run, so that its windows stay alive during a run.
    void (*yield)() = nullptr;
    // Drops every override cursor the host's windows have.
    void (*defaultPointer)() = nullptr;
};

struct PluginEntry {
    // First, so that any plug-in's can be read.
    int interfaceVersion = kPluginInterfaceVersion;
    // The plug-in's application folder: the folder its library lies in.
    std::string applicationFolder;
    // The editor's save after the host's panel confirmed, for the host's
    // command line: text becomes the work copy, the work copy the event
    // script of id, and the work copy goes. Empty on success, else why not.
    std::string (*importScript)(const std::string& id, const std::string& text) = nullptr;
    // The text the editor shows for id's script, in the 8-bit code page;
    // nothing when the load failed, with *why empty when the failure was
    // reported and saying why when it was not. Ids are UTF-8.
    std::optional<std::string> (*showScript)(const std::string& id, std::string* why) = nullptr;
};

// const PluginEntry* zul_plugin_entry(const HostHooks* hooks): sets the
// plug-in up on the calling thread (its application folder, its public class
// in the registry, the host's hooks) and says what else it offers.
using PluginEntryFunction = const PluginEntry* (*)(const HostHooks* hooks);

} // namespace zul::com
