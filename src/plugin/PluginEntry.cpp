#include "plugin/PluginEntry.h"

#include "com/Registry.h"
#include "platform/AppPath.h"
#include "platform/Library.h"
#include "plugin/iGamut12.h"

namespace {
// Any symbol of this library locates its file.
void anchor() {}
} // namespace

ZulPluginEntry::ZulPluginEntry()
{
    zul::platform::setAppFolder(zul::platform::folderOfAddress(reinterpret_cast<const void*>(&anchor)));
    zul::com::registerClass(zul::com::kGamutProgId, [] { return std::make_shared<iGamut12>(); });
}

QString ZulPluginEntry::applicationFolder() const
{
    return QString::fromStdString(zul::platform::appFolder());
}

QString ZulPluginEntry::progId() const
{
    return QString::fromLatin1(zul::com::kGamutProgId);
}
