#pragma once

namespace zul::plugin {

// The forms live in their own library beside the plug-in, loaded when a panel
// is first shown: a run never loads the widgets.
inline constexpr const char* kFormsLibrary = "libzul_forms.so";
// Editor* (const char* applicationFolder): a new editor panel. The library
// carries its own copy of the core, so each call hands it the plug-in's
// application folder and installs the same hooks on the calling thread.
inline constexpr const char* kFormsEditorSymbol = "zul_forms_editor";

} // namespace zul::plugin
