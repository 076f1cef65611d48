#include "plugin/FormsLibrary.h"

#include "platform/AppPath.h"
#include "platform/Library.h"
#include "plugin/Editor.h"

#include <stdexcept>

namespace zul::plugin {

namespace {

// Any symbol of the plug-in locates its file, and the forms beside it.
void anchor() {}

std::string formsPath()
{
    return platform::folderOfAddress(reinterpret_cast<const void*>(&anchor)) + "/" + kFormsLibrary;
}

} // namespace

std::unique_ptr<Editor> makeFormEditor()
{
    using Make = Editor* (*)(const char*);
    const std::string path = formsPath();
    const auto make = reinterpret_cast<Make>(platform::loadSymbol(path, kFormsEditorSymbol));
    if (!make)
        throw std::runtime_error("cannot load the forms library '" + path + "'");
    return std::unique_ptr<Editor>(make(platform::appFolder().c_str()));
}

} // namespace zul::plugin
