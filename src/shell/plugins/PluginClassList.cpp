#include "shell/plugins/PluginClassList.h"

#include "shell/plugins/WVAppLogPlugin.h"
#include "shell/plugins/WVEventPlugin.h"
#include "shell/plugins/WVUserDefaultsPlugin.h"

void PluginClassList::addToPluginBase() const {
    WVPluginBase::addPlugin(WVAppLogPlugin::pluginClass());
    if (pathDialog) WVPluginBase::addPlugin(*pathDialog);
    if (localFilesystem) WVPluginBase::addPlugin(*localFilesystem);
    WVPluginBase::addPlugin(WVEventPlugin::pluginClass());
    WVPluginBase::addPlugin(WVUserDefaultsPlugin::pluginClass());
    if (contextMenu) WVPluginBase::addPlugin(*contextMenu);
}
