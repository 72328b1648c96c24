#pragma once

// The registry of installed component libraries: a type-library identifier maps to the
// version registered for it. Start-up checks the found versions before it creates anything.
//
// The simulated library registers itself on first use:
//   "ZentrikWindow_TLB"                  ("WindowX" in messages)            4.3
//   "ZentrikGenericConnector2Proj1_TLB"  ("GenericConnector2x" in messages) 1.4
// Tests register other versions or unregister.
//
// The environment variable VELQUIST_COMPONENT_VERSIONS overrides the registered versions when
// the registry is first used (or on ResetToDefaults), so a whole-process test can start the
// real client against older components. It is a ";"-separated list of "identifier=version";
// the version text is taken as found ("4.2", also text that is no version at all), and an
// empty version means "not registered":
//   VELQUIST_COMPONENT_VERSIONS="ZentrikWindow_TLB=4.2;ZentrikGenericConnector2Proj1_TLB="

#include <QString>

namespace zkComponentLibraries {
inline const char* ZentrikWindow() {
    return "ZentrikWindow_TLB";
}
inline const char* GenericConnector() {
    return "ZentrikGenericConnector2Proj1_TLB";
}
} // namespace zkComponentLibraries

class TComponentRegistry {
public:
    static void Register(const QString& id, int major, int minor);
    // Registers a version as raw text, as the environment override does.
    static void RegisterText(const QString& id, const QString& version);
    static void Unregister(const QString& id);
    // "%d.%d" of the registered version, or empty text when the library is not registered.
    static QString FoundVersion(const QString& id);
    // The simulated library's own registrations, then the environment override.
    static void ResetToDefaults();
};
