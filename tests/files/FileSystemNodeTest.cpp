#include <gtest/gtest.h>

#include <filesystem>

#include "DeviceFolderFixture.h"
#include "files/FileSystemNode.h"

namespace {

using Node = FileSystemNode;

std::vector<std::string> names(const std::vector<Node::Ptr>& nodes) {
    std::vector<std::string> result;
    for (const auto& node : nodes) result.push_back(node->displayName());
    return result;
}

class FileSystemNodeTest : public DeviceFolderTest {};

TEST_F(FileSystemNodeTest, FactoriesGivePathServiceKindAndEntry) {
    put(media(), ".OrvandelDisk/Music/a.mp3", "x");
    struct Case {
        const char* name;
        Node::Ptr node;
        std::string fullPath;
        std::optional<std::string> root;
        bool isDirectory;
        std::int32_t type;
        std::optional<std::string> entry;
    };
    const Case cases[] = {
        {"media path", Node::fileSystemRootNodeWithMobileDevicePath(device, ".OrvandelDisk"), "/.OrvandelDisk",
         "com.apple.afc", true, 3, std::nullopt},
        {"application list", Node::appRootNodeWithMobileDevice(device), "/", std::nullopt, true, 2,
         std::nullopt},
        {"application file", Node::appNodeWithIdOnMobileDevicePathIsDirectory(kAppId, device, "/Documents/n.txt", false),
         "/Documents/n.txt", kAppId, false, 3, std::nullopt},
        {"disk, no path", Node::diskRootNodeWithMobileDevicePath(device, std::nullopt), "/.OrvandelDisk",
         "/", true, 3, "/.OrvandelDisk"},
        {"disk, below", Node::diskRootNodeWithMobileDevicePath(device, "/Music"),
         "/.OrvandelDisk/Music", "/", true, 3, "/.OrvandelDisk"},
        {"disk, already inside", Node::diskRootNodeWithMobileDevicePath(device, "/.OrvandelDisk/Music/a.mp3"),
         "/.OrvandelDisk/Music/a.mp3", "/", false, 3, "/.OrvandelDisk"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.node->fullPath(), c.fullPath);
        EXPECT_EQ(c.node->rootPath(), c.root);
        EXPECT_EQ(c.node->isDirectory(), c.isDirectory);
        EXPECT_EQ(c.node->fsType(), c.type);
        EXPECT_EQ(c.node->entryPath(), c.entry);
    }
}

TEST_F(FileSystemNodeTest, ListingPutsFoldersFirstSkipsDotNamesAndCostsOneInfoPerEntry) {
    put(media(), "b.txt", "12345");
    put(media(), "Zed/x", "");
    put(media(), "Alpha/y", "");
    put(media(), ".OrvandelDisk/z", "");
    put(media(), "a.txt", "1");
    auto root = Node::fileSystemRootNodeWithMobileDevice(device);
    device->resetCallCounts();

    const auto& children = root->children();
    // The device's order within each group.
    std::vector<std::string> folders, files;
    for (const auto& entry : device->contentsOfDirectoryPathType("/", kPathTypeFolders))
        if (entry.name() != ".OrvandelDisk") folders.push_back(entry.name());
    for (const auto& entry : device->contentsOfDirectoryPathType("/", kPathTypeFiles))
        files.push_back(entry.name());
    std::vector<std::string> expected = folders;
    expected.insert(expected.end(), files.begin(), files.end());
    EXPECT_EQ(names(children), expected);
    ASSERT_EQ(children.size(), 4u);
    EXPECT_EQ(device->callCount("contentsOfDirectoryWithAttributes"), 1);
    EXPECT_EQ(device->callCount("fileInfo"), 5);

    // Sizes and dates come with the listing; a second listing is the cached one.
    device->resetCallCounts();
    for (const auto& child : children) {
        child->fileSize();
        child->modifiedDate();
        child->createdDate();
    }
    EXPECT_EQ(&root->children(), &children);
    EXPECT_EQ(device->totalCalls(), 0);
    root->refreshChildren();
    root->children();
    EXPECT_EQ(device->callCount("contentsOfDirectoryWithAttributes"), 1);
}

TEST_F(FileSystemNodeTest, AnEmptyListingIsAskedAgainAndAFileNamedLikeTheDiskFolderIsKept) {
    std::filesystem::create_directories(media() + "/Empty");
    auto empty = Node::fileSystemRootNodeWithMobileDevicePath(device, "/Empty");
    device->resetCallCounts();
    EXPECT_TRUE(empty->children().empty());
    EXPECT_TRUE(empty->children().empty());
    EXPECT_EQ(device->callCount("contentsOfDirectoryWithAttributes"), 2);

    put(media(), "Other/.OrvandelDisk", "file");
    auto other = Node::fileSystemRootNodeWithMobileDevicePath(device, "/Other");
    EXPECT_EQ(names(other->children()), std::vector<std::string>{".OrvandelDisk"});
}

TEST_F(FileSystemNodeTest, ApplicationListKeepsSharingApplicationsWithNameAndId) {
    device->addApplication({"com.example.hidden", "Hidden", folder / "hidden", false, {}});
    device->addApplication({"com.example.noname", "", folder / "noname", true, {}});
    put(container(), "Documents/n.txt", "note");
    auto apps = Node::appRootNodeWithMobileDevice(device);
    ASSERT_EQ(names(apps->children()), std::vector<std::string>{"Notes"});
    const auto& notes = apps->children()[0];
    EXPECT_EQ(notes->fullPath(), "/Documents");
    EXPECT_EQ(notes->entryPath(), "/Documents");
    EXPECT_EQ(notes->displayPath(), "/Notes");
    EXPECT_EQ(names(notes->children()), std::vector<std::string>{"n.txt"});
    EXPECT_EQ(notes->children()[0]->displayPath(), "/Notes/n.txt");
    EXPECT_FALSE(apps->deleteNode());
}

TEST_F(FileSystemNodeTest, DeleteRemovesAWholeTreeAndReleasedDevicesLeaveEmptyAnswers) {
    put(media(), "Tree/a/b/c.txt", "c");
    put(media(), "Tree/d.txt", "d");
    auto tree = Node::fileSystemRootNodeWithMobileDevicePath(device, "/Tree");
    EXPECT_TRUE(tree->deleteNode());
    EXPECT_FALSE(std::filesystem::exists(media() + "/Tree"));

    put(media(), "Keep/a.txt", "a");
    auto keep = Node::fileSystemRootNodeWithMobileDevicePath(device, "/Keep");
    device.reset();
    EXPECT_EQ(keep->fullPath(), "");
    EXPECT_TRUE(keep->children().empty());
    EXPECT_FALSE(keep->deleteNode());
}

}  // namespace

namespace {

NSImage::Image picture(int width, int height) {
    return NSImage::Image(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height), g_object_unref);
}

// Setters of fields that a getter computes past leave the getter's answer alone; those of
// fields the getters read change it.
TEST_F(FileSystemNodeTest, SettersWriteTheirFieldsAndComputedAnswersStayComputed) {
    put(media(), "Alpha/b.txt", "12345");
    put(media(), "b.txt", "12345");
    EXPECT_EQ(Node::iTunesPhotoNodeWithMobileDevice(device), nullptr);
    auto file = Node::fileSystemRootNodeWithMobileDevicePath(device, "/b.txt");
    auto other = std::make_shared<testsupport::FakeMobileDevice>(media(), "OTHER");
    file->setRawDevice(other);
    file->setDisplayPath("/shown");
    file->setSizeString("huge");
    file->setRealImage(picture(2, 2));
    EXPECT_EQ(file->rawDevice(), device);
    EXPECT_EQ(file->displayPath(), "/b.txt");
    EXPECT_EQ(file->sizeString(), "5 bytes");
    EXPECT_EQ(file->realImage(), nullptr) << "a text file has no picture of its own";

    // A file found without a picture keeps no dimension, even once one is set.
    EXPECT_EQ(file->dimension(), std::nullopt);
    file->setImage(picture(3, 2));
    EXPECT_EQ(file->dimension(), std::nullopt);
    auto shown = Node::fileSystemRootNodeWithMobileDevicePath(device, "/b.txt");
    shown->setImage(picture(3, 2));
    EXPECT_EQ(shown->dimension(), "3 x 2");

    auto folder = Node::fileSystemRootNodeWithMobileDevicePath(device, "/Alpha");
    file->setParent(folder);
    EXPECT_EQ(file->fullPath(), "/Alpha/b.txt");
    file->setParent(nullptr);
    file->setFullPath("Alpha/c.txt");
    EXPECT_EQ(file->fullPath(), "/Alpha/c.txt");
    file->setFsType(Node::kAppListType);
    EXPECT_FALSE(file->deleteNode()) << "only path nodes delete";
    EXPECT_TRUE(std::filesystem::exists(media() + "/b.txt"));
}

// A picture is read from the device once: kept when it decodes, never asked for again
// when it does not; a file of no picture type is never read.
TEST_F(FileSystemNodeTest, APictureIsReadFromTheDeviceOnce) {
    GdkPixbuf* pixels = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 3, 2);
    gdk_pixbuf_fill(pixels, 0x336699ff);
    gchar* png = nullptr;
    gsize length = 0;
    ASSERT_TRUE(gdk_pixbuf_save_to_buffer(pixels, &png, &length, "png", nullptr, nullptr));
    put(media(), "pic.png", std::string(png, length));
    g_free(png);
    g_object_unref(pixels);
    put(media(), "broken.jpg", "no picture in here");
    put(media(), "notes.txt", "text");

    struct Case {
        const char* path;
        int width;  // 0: no picture
        int reads;
    };
    for (const Case& c : {Case{"/pic.png", 3, 1}, Case{"/broken.jpg", 0, 1}, Case{"/notes.txt", 0, 0}}) {
        SCOPED_TRACE(c.path);
        device->resetCallCounts();
        const auto node = Node::fileSystemRootNodeWithMobileDevicePath(device, c.path);
        for (int i = 0; i < 3; ++i) {
            const auto image = node->realImage();
            EXPECT_EQ(image ? gdk_pixbuf_get_width(image.get()) : 0, c.width);
        }
        EXPECT_EQ(device->callCount("readFileAtPathOffsetLength") + device->callCount("contentsOfFileAtPath"),
                  c.reads);
    }
}

TEST_F(FileSystemNodeTest, TheWholeDeviceAndCameraRollNodesAndTheKindTests) {
    put(media(), "DCIM/100APPLE/a.jpg", "x");
    const auto whole = Node::deviceRootNodeWithMobileDevice(device);
    EXPECT_EQ(whole->rootPath(), "com.apple.afc2");
    EXPECT_EQ(whole->fullPath(), "/");
    const auto roll = Node::cameraRollNodeWithMobileDevice(device);
    EXPECT_EQ(roll->rootPath(), "/");
    EXPECT_EQ(roll->fullPath(), "/DCIM");
    EXPECT_TRUE(roll->isDirectory());

    const auto media = Node::fileSystemRootNodeWithMobileDevicePath(device, "/DCIM/100APPLE");
    const auto apps = Node::appRootNodeWithMobileDevice(device);
    const auto app = Node::appNodeWithIdOnMobileDevicePathIsDirectory(kAppId, device, "/Documents", true);
    struct Case {
        const char* name;
        Node::Ptr node;
        bool app, deviceRoot, cameraRoll;
    };
    const Case cases[] = {
        {"whole device", whole, false, true, false},
        {"camera roll", roll, false, false, true},
        {"media folder in the roll", media, false, false, true},
        {"application list", apps, true, false, false},
        {"application", app, true, false, false},
        {"disk folder", Node::diskRootNodeWithMobileDevice(device), false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.node->isAppNode(), c.app);
        EXPECT_EQ(c.node->isDeviceRootNode(), c.deviceRoot);
        EXPECT_EQ(c.node->isCameraRollNode(), c.cameraRoll);
    }
}

}  // namespace
