#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "camera_extension/linux/V4l2LoopbackWriter.hpp"
#include "support/camera_extension/RecordingCameraLog.hpp"
#include "virtual_devices/CameraDeviceIdentifiers.hpp"

namespace quillbridge {
namespace {

namespace Ids = CameraDeviceIdentifiers;
namespace fs = std::filesystem;

// The V4L2 loopback writer against stand-ins: a sysfs tree in a temporary folder, and plain files (or
// /dev/full) in place of the device, with the format step recorded instead of sent to a driver.
class V4l2LoopbackWriterTest : public testing::Test {
protected:
    void SetUp() override {
        char folderTemplate[] = "/tmp/quillbridge-v4l2.XXXXXX";
        ASSERT_NE(::mkdtemp(folderTemplate), nullptr);
        folder = folderTemplate;
    }
    void TearDown() override { fs::remove_all(folder); }

    void addSysfsDevice(const std::string& name, const std::string& label) {
        fs::create_directories(folder / "class" / name);
        std::ofstream(folder / "class" / name / "name") << label << "\n";
    }

    V4l2LoopbackWriter::FormatSetter recordingSetter(int result = 0) {
        return [this, result](int, v4l2_format& format) {
            formats.push_back(format);
            return result;
        };
    }

    fs::path folder;
    RecordingCameraLog log;
    std::vector<v4l2_format> formats;
};

TEST_F(V4l2LoopbackWriterTest, FindsTheDeviceLabelledForTheCamera) {
    addSysfsDevice("video0", "Integrated Camera");
    addSysfsDevice("video7", "Quillbridge Persona Camera");
    addSysfsDevice("video9", "Quillbridge Persona Camera 2");

    EXPECT_EQ(V4l2LoopbackWriter::findLabelledDevice(Ids::v4l2LoopbackCardLabel, folder / "class", "/dev"),
              "/dev/video7");
    EXPECT_EQ(V4l2LoopbackWriter::findLabelledDevice("Other", folder / "class", "/dev"), std::nullopt);
    EXPECT_EQ(V4l2LoopbackWriter::findLabelledDevice(Ids::v4l2LoopbackCardLabel, folder / "missing", "/dev"),
              std::nullopt);
}

TEST_F(V4l2LoopbackWriterTest, GivesTheDeviceTheCamerasFormatAndWritesEachFramePacked) {
    const std::string device = folder / "video7";
    std::ofstream(device).close();
    auto writer = V4l2LoopbackWriter::open(device, log.logger(), recordingSetter());
    ASSERT_NE(writer, nullptr);
    ASSERT_EQ(formats.size(), 1u);
    EXPECT_EQ(formats[0].type, V4L2_BUF_TYPE_VIDEO_OUTPUT);
    EXPECT_EQ(formats[0].fmt.pix.pixelformat, V4L2_PIX_FMT_NV12);
    EXPECT_EQ(formats[0].fmt.pix.width, 1920u);
    EXPECT_EQ(formats[0].fmt.pix.height, 1080u);
    EXPECT_EQ(formats[0].fmt.pix.bytesperline, 1920u);
    EXPECT_EQ(formats[0].fmt.pix.sizeimage, Ids::frameByteCount);
    EXPECT_THAT(log.messages(),
                testing::ElementsAre("Writing Persona camera frames to the V4L2 loopback device " + device));

    // A frame whose rows are padded to 2048 bytes arrives packed.
    std::vector<std::uint8_t> padded(2048 * 1620);
    for (std::size_t row = 0; row < 1620; ++row)
        std::fill_n(padded.begin() + std::ptrdiff_t(row * 2048), 1920, std::uint8_t(row));
    writer->write(*cameraImageInBlock<const std::uint8_t>(padded.data(), padded.size(), 2048));
    writer->write(*cameraImageInBlock<const std::uint8_t>(padded.data(), padded.size(), 2048));

    std::ifstream written(device, std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(written), {}};
    ASSERT_EQ(bytes.size(), 2 * Ids::frameByteCount);
    for (std::size_t row = 0; row < 1620; ++row)
        ASSERT_EQ(bytes[Ids::frameByteCount + row * 1920 + 1919], std::uint8_t(row)) << row;
}

TEST_F(V4l2LoopbackWriterTest, DeviceThatRefusesTheFormatIsNotUsed) {
    const std::string device = folder / "video7";
    std::ofstream(device).close();

    EXPECT_EQ(V4l2LoopbackWriter::open(device, log.logger(), recordingSetter(EINVAL)), nullptr);
    // A file that is no V4L2 device refuses the real request.
    EXPECT_EQ(V4l2LoopbackWriter::open(device, log.logger()), nullptr);
    EXPECT_EQ(V4l2LoopbackWriter::open(folder / "missing", log.logger()), nullptr);

    EXPECT_THAT(log.messages(),
                testing::ElementsAre(
                    "Could not set the V4L2 loopback device's format on " + device + ": Invalid argument",
                    "Could not set the V4L2 loopback device's format on " + device +
                        ": Inappropriate ioctl for device",
                    "Could not open the V4L2 loopback device " + (folder / "missing").string() +
                        ": No such file or directory"));
}

TEST_F(V4l2LoopbackWriterTest, FailedWritesDropTheFrameAndAreLoggedOnce) {
    auto writer = V4l2LoopbackWriter::open("/dev/full", log.logger(), recordingSetter());
    ASSERT_NE(writer, nullptr);
    log.clear();
    std::vector<std::uint8_t> frame(Ids::frameByteCount);
    auto image = *cameraImageInBlock<const std::uint8_t>(frame.data(), frame.size(), 1920);

    writer->write(image);
    writer->write(image);

    EXPECT_THAT(
        log.messages(),
        testing::ElementsAre("Could not write a Persona camera frame to /dev/full: No space left on device"));
}

}  // namespace
}  // namespace quillbridge
