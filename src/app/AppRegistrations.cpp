#include "app/AppRegistrations.h"

#include "app/FetchDeviceAccess.h"
#include "app/MediaLoaderTracks.h"
#include "content/AppFetchHandler.h"
#include "content/SchemeResponders.h"
#include "files/MusicImportCommands.h"
#include "files/WVLocalFilesystemPlugin.h"
#include "files/WVMobileDeviceFilesystemPlugin.h"
#include "foundation/Bundle.h"
#include "http/NetHTTPClientRequest.h"
#include "http/NetRequestDefaults.h"
#include "http/NetURLContents.h"
#include "media/AudioConverter.h"
#include "media/MyAssetLoaderDelegate.h"
#include "media/iTunesLibrary.h"
#include "media/iTunesWrapper.h"
#include "shell/events/HttpRequestHandler.h"
#include "shell/events/RingtoneEventHandler.h"
#include "shell/events/ShellEventHandlers.h"
#include "shell/events/iTunesHandler.h"
#include "shell/plugins/PluginClassList.h"
#include "shell/plugins/WVEventPlugin.h"

void registerApplicationClasses() {
    content::registerSchemeResponders();
    content::AppFetchHandler::setServices(FetchDeviceAccess::services());
    PluginClassList plugins;
    plugins.localFilesystem = WVLocalFilesystemPlugin::pluginClass();
    plugins.addToPluginBase();
    MusicImportCommands::addTo(WVMobileDeviceFilesystemPlugin::fileCommands(), MediaLoaderTracks::services());
    // Event handlers of the shell ("system", "app", "pasteboard", "window"), then those that
    // reach the layers above it.
    ShellEventHandlers::addToEventPlugin();
    auto libraryScripts = media::iTunesWrapper::scriptServices();
    libraryScripts.librarySummary = [] { return media::iTunesLibrary::itLibrary().summary(); };
    WVEventPlugin::addHandlerClassForEvent(iTunesHandler::handlerClass(libraryScripts), "itunes");
    // The converter reads http and https sources through the HTTP client.
    media::MyAssetLoaderDelegate::setHTTPReader(NetURLContents::read);
    WVEventPlugin::addHandlerClassForEvent(
        RingtoneEventHandler::handlerClass(
            {media::AudioConverter::getAudioTagInfoOfFile, media::AudioConverter::convertToM4AError,
             media::AudioConverter::convertToM4RStartEndWithTitleError}),
        "ringtone");
    WVEventPlugin::addHandlerClassForEvent(
        HttpRequestHandler::handlerClass(NetHTTPClientRequest::maker()), "http");
    NetRequestDefaults::shared().setBundleInfoPath(foundation::Bundle::mainBundlePath() +
                                                   "/Info.plist");
}
