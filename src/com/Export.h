#pragma once

// The component model is one shared library for the whole process, so that
// the host and the plug-in see the same registry and module state.
#define ZUL_COM_EXPORT __attribute__((visibility("default")))
