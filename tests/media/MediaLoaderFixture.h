#pragma once

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "MediaLibraryFixtures.h"
#include "MusicLibraryFixture.h"
#include "content/ThreadPool.h"
#include "device/iMobileMediaDevice.h"
#include "fakedevice/FakeMobileDevice.h"
#include "foundation/OperationQueue.h"
#include "media/MediaLoader.h"
#include "media/iTunesLibrary.h"

namespace mediatest {

// Loaders over fake phones whose media areas are folders of the scratch folder, matching
// with the fixture's music library; copies go to a temporary folder of the test's own.
class MediaLoaderFixture : public MusicLibraryFixture {
protected:
    void SetUp() override {
        MusicLibraryFixture::SetUp();
        environment.set("TMPDIR", temporary.path());
    }

    // The media area of a phone, made empty.
    std::string root(const std::string& id) {
        const std::string path = folder / id;
        std::filesystem::create_directories(path);
        return path;
    }
    std::shared_ptr<media::MediaDevice> phone(const std::string& id) {
        return std::make_shared<iMobileMediaDevice>(
            std::make_shared<testsupport::FakeMobileDevice>(root(id), id));
    }
    // A phone keeping a media library with its ringtone list.
    std::shared_ptr<media::MediaDevice> phoneWithMediaLibrary(const std::string& id) {
        const std::string control = root(id) + "/iTunes_Control/iTunes";
        std::filesystem::create_directories(control);
        writeDatabase(control + "/MediaLibrary.sqlitedb", mediaLibrarySql({LadderForm::Second}));
        std::ofstream(control + "/Ringtones.plist") << kRingtonesPlist;
        return phone(id);
    }
    std::shared_ptr<media::MediaLoader> loaderOf(std::shared_ptr<media::MediaDevice> device) {
        return media::MediaLoader::initWithDevice(std::move(device), &library);
    }
    // Loads and waits for the match that ends the load.
    static void loadAndMatch(media::MediaLoader& loader) {
        loader.load();
        ThreadPool::async().waitUntilAllOperationsAreFinished();
    }

    foundationtest::ScratchFolder temporary;
    foundationtest::ScopedEnvironment environment;
    media::iTunesLibrary library{wrapper};
};

}  // namespace mediatest
